// SPDX-License-Identifier: MIT
// Checked reading of TOML nodes.
#include "ferrox/vpc/description/machine_file_reader.h"

#include <algorithm>
#include <sstream>

namespace ferrox::vpc::machine_file {

namespace {

// What a read gives after a fault: nothing that a reading function acts on.
const toml::table& no_table() {
  static const toml::table empty;
  return empty;
}

const toml::array& no_array() {
  static const toml::array empty;
  return empty;
}

}  // namespace

void Reader::fail(const toml::node& at, std::string key, std::string what) {
  if (!fault_) fault_ = Fault{at.source().begin.line, std::move(key), std::move(what)};
}

void Reader::check_keys(const toml::table& table, std::string_view prefix, std::initializer_list<std::string_view> known) {
  for (auto&& [key, node] : table) {
    if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
    std::string name = prefix.empty() ? std::string(key.str()) : std::string(prefix) + "." + std::string(key.str());
    return fail(node, name, "unknown key");
  }
}

std::uint64_t Reader::integer(const toml::node& node, const std::string& key, std::uint64_t max) {
  const toml::value<std::int64_t>* value = node.as_integer();
  if (!value) {
    fail(node, key, "must be an integer");
    return 0;
  }
  std::int64_t number = value->get();
  if (number < 0 || static_cast<std::uint64_t>(number) > max) {
    std::ostringstream range;
    range << number << " is out of range 0.." << max << " (0x" << std::hex << max << ")";
    fail(node, key, range.str());
    return 0;
  }
  return static_cast<std::uint64_t>(number);
}

bool Reader::boolean(const toml::node& node, const std::string& key) {
  const toml::value<bool>* value = node.as_boolean();
  if (!value) fail(node, key, "must be true or false");
  return value && value->get();
}

std::string Reader::string(const toml::node& node, const std::string& key) {
  const toml::value<std::string>* value = node.as_string();
  if (!value) fail(node, key, "must be a string");
  return value ? value->get() : std::string();
}

const toml::table& Reader::table(const toml::node& node, const std::string& key) {
  const toml::table* value = node.as_table();
  if (!value) fail(node, key, "must be a table");
  return value ? *value : no_table();
}

const toml::array& Reader::array(const toml::node& node, const std::string& key, std::size_t max_size) {
  const toml::array* value = node.as_array();
  if (!value) {
    fail(node, key, "must be an array");
    return no_array();
  }
  if (value->size() > max_size) {
    fail(node, key, "has more than " + std::to_string(max_size) + " elements");
    return no_array();
  }
  return *value;
}

const toml::node& Reader::required(const toml::table& table, const std::string& prefix, std::string_view name) {
  const toml::node* node = table.get(name);
  if (!node) fail(table, prefix + "." + std::string(name), "missing");
  return node ? *node : no_table();
}

}  // namespace ferrox::vpc::machine_file
