// Typed, checked reading of a machine file's TOML nodes. A fault names the key and carries the
// line of the node at fault; the reading stops at the first one.
#pragma once

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vpc::machine_file {

struct Fault {
  Fault(const toml::node& at, std::string key_name, std::string message)
      : line(at.source().begin.line), key(std::move(key_name)), what(std::move(message)) {}
  std::uint32_t line;
  std::string key;
  std::string what;
};

class Reader {
 public:
  // directory: where the file lies; files it names are found from there.
  explicit Reader(std::filesystem::path directory) : directory_(std::move(directory)) {}
  const std::filesystem::path& directory() const { return directory_; }

  // Faults at the first key of table not among known; prefix names the table ("" for the root).
  void check_keys(const toml::table& table, std::string_view prefix, std::initializer_list<std::string_view> known) const;

  std::uint64_t integer(const toml::node& node, const std::string& key, std::uint64_t max) const;
  bool boolean(const toml::node& node, const std::string& key) const;
  std::string string(const toml::node& node, const std::string& key) const;
  const toml::table& table(const toml::node& node, const std::string& key) const;
  // An array of at most max_size elements.
  const toml::array& array(const toml::node& node, const std::string& key, std::size_t max_size) const;
  const toml::node& required(const toml::table& table, const std::string& prefix, std::string_view name) const;

  // Calls visit(table, "key[i]") for each table of an array of tables.
  template <class Visit>
  void for_each_table(const toml::node& node, const std::string& key, Visit visit) const {
    const toml::array* array = node.as_array();
    if (!array) throw Fault{node, key, "must be an array of tables"};
    for (std::size_t i = 0; i < array->size(); ++i) {
      std::string element = key + "[" + std::to_string(i) + "]";
      visit(table((*array)[i], element), element);
    }
  }

 private:
  std::filesystem::path directory_;
};

}  // namespace vpc::machine_file
