// SPDX-License-Identifier: MIT
// Typed, checked reading of a machine file's TOML nodes. A fault names the key and carries the
// line of the node at fault; the first one is kept, and reading after it goes on harmlessly on
// stand-in values (0, false, "", empty tables), so that a reading function need not test every
// step: machine_file.cpp turns the fault into the error of the whole file.
#pragma once

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ferrox/vpc/parallel/parallel_ports.h"

namespace ferrox::vpc::machine_file {

struct Fault {
  std::uint32_t line;
  std::string key;
  std::string what;
};

class Reader {
 public:
  // directory: where the file lies; files it names are found from there.
  explicit Reader(std::filesystem::path directory) : directory_(std::move(directory)) {}
  const std::filesystem::path& directory() const { return directory_; }

  const std::optional<Fault>& fault() const { return fault_; }
  bool failed() const { return fault_.has_value(); }
  // Records a fault at a node, unless an earlier one is recorded.
  void fail(const toml::node& at, std::string key, std::string what);

  // Faults at the first key of table not among known; prefix names the table ("" for the root).
  void check_keys(const toml::table& table, std::string_view prefix, std::initializer_list<std::string_view> known);

  std::uint64_t integer(const toml::node& node, const std::string& key, std::uint64_t max);
  bool boolean(const toml::node& node, const std::string& key);
  std::string string(const toml::node& node, const std::string& key);
  const toml::table& table(const toml::node& node, const std::string& key);
  // An array of at most max_size elements.
  const toml::array& array(const toml::node& node, const std::string& key, std::size_t max_size);
  const toml::node& required(const toml::table& table, const std::string& prefix, std::string_view name);

  // Calls visit(table, "key[i]") for each table of an array of tables.
  template <class Visit>
  void for_each_table(const toml::node& node, const std::string& key, Visit visit) {
    const toml::array* array = node.as_array();
    if (!array) return fail(node, key, "must be an array of tables");
    for (std::size_t i = 0; i < array->size() && !failed(); ++i) {
      std::string element = key + "[" + std::to_string(i) + "]";
      visit(table((*array)[i], element), element);
    }
  }

 private:
  std::filesystem::path directory_;
  std::optional<Fault> fault_;
};

// The parallel ports: one [[parallel_port]] table each. Replaces ports with the ones described.
constexpr const char* ParallelKey = "parallel_port";
void read_parallel_ports(Reader& reader, const toml::node& node, std::vector<ParallelPortDescription>& ports);

}  // namespace ferrox::vpc::machine_file
