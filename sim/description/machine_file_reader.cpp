// Checked reading of TOML nodes.
#include "ferrox/vpc/description/machine_file_reader.h"

#include <algorithm>
#include <sstream>

namespace vpc::machine_file {

void Reader::check_keys(const toml::table& table, std::string_view prefix,
                        std::initializer_list<std::string_view> known) const {
  for (auto&& [key, node] : table) {
    if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
    std::string name = prefix.empty() ? std::string(key.str()) : std::string(prefix) + "." + std::string(key.str());
    throw Fault{node, name, "unknown key"};
  }
}

std::uint64_t Reader::integer(const toml::node& node, const std::string& key, std::uint64_t max) const {
  const toml::value<std::int64_t>* value = node.as_integer();
  if (!value) throw Fault{node, key, "must be an integer"};
  std::int64_t number = value->get();
  if (number < 0 || static_cast<std::uint64_t>(number) > max) {
    std::ostringstream range;
    range << number << " is out of range 0.." << max << " (0x" << std::hex << max << ")";
    throw Fault{node, key, range.str()};
  }
  return static_cast<std::uint64_t>(number);
}

bool Reader::boolean(const toml::node& node, const std::string& key) const {
  const toml::value<bool>* value = node.as_boolean();
  if (!value) throw Fault{node, key, "must be true or false"};
  return value->get();
}

std::string Reader::string(const toml::node& node, const std::string& key) const {
  const toml::value<std::string>* value = node.as_string();
  if (!value) throw Fault{node, key, "must be a string"};
  return value->get();
}

const toml::table& Reader::table(const toml::node& node, const std::string& key) const {
  const toml::table* value = node.as_table();
  if (!value) throw Fault{node, key, "must be a table"};
  return *value;
}

const toml::array& Reader::array(const toml::node& node, const std::string& key, std::size_t max_size) const {
  const toml::array* value = node.as_array();
  if (!value) throw Fault{node, key, "must be an array"};
  if (value->size() > max_size) throw Fault{node, key, "has more than " + std::to_string(max_size) + " elements"};
  return *value;
}

const toml::node& Reader::required(const toml::table& table, const std::string& prefix, std::string_view name) const {
  const toml::node* node = table.get(name);
  if (!node) throw Fault{table, prefix + "." + std::string(name), "missing"};
  return *node;
}

}  // namespace vpc::machine_file
