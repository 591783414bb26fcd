// SPDX-License-Identifier: MIT
// Reading the system's files under the doctor's root.
#include "tools/ferrox/doctor/system_view.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ferrox_tool::doctor {

SystemView SystemView::of_this_system() {
  const char* root = std::getenv(SystemRootVariable);
  return SystemView(root && *root ? root : "/");
}

std::filesystem::path SystemView::at(std::string_view path) const {
  return root_ / std::filesystem::path(path).relative_path();
}

std::optional<std::string> SystemView::read(std::string_view path) const {
  std::ifstream in(at(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<std::string> SystemView::value(std::string_view path) const {
  std::optional<std::string> text = read(path);
  if (!text) return std::nullopt;
  std::string line = text->substr(0, text->find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  return line;
}

std::optional<struct stat> SystemView::status(std::string_view path) const {
  struct stat found {};
  if (stat(at(path).c_str(), &found) != 0) return std::nullopt;
  return found;
}

std::vector<std::string> SystemView::entries(std::string_view path) const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(at(path), error)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> SystemView::read_at(std::string_view path, long offset, std::size_t count) const {
  int file = open(at(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  std::string bytes(count, '\0');
  ssize_t got = pread(file, bytes.data(), count, offset);
  close(file);
  if (got != static_cast<ssize_t>(count)) return std::nullopt;
  return bytes;
}

std::optional<std::string> status_field(const std::string& text, std::string_view key) {
  for (const std::string& line : lines_of(text)) {
    if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 || line[key.size()] != ':') continue;
    std::size_t start = line.find_first_not_of(" \t", key.size() + 1);
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return std::nullopt;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace ferrox_tool::doctor
