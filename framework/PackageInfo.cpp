// SPDX-License-Identifier: MIT
// Reading a package description.
#include "ferrox/framework/PackageInfo.h"

#include <sstream>

namespace ferrox::framework {

namespace {

std::vector<std::string> Words(std::string_view line) {
  std::istringstream stream{std::string(line)};
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

Status ReadUsage(const std::vector<std::string>& words, TPackageInfo& info) {
  bool design = false, runtime = false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "design") design = true;
    else if (words[i] == "runtime") runtime = true;
    else return Error{"unknown usage \"" + words[i] + "\""};
  }
  if (!design && !runtime) return Error{"usage names neither design nor runtime"};
  info.DesignOnly = !runtime;
  info.RunOnly = !design;
  return Done{};
}

Status ReadUnit(const std::vector<std::string>& words, TPackageInfo& info) {
  if (words.size() < 2) return Error{"contains needs a unit name"};
  TContainedUnit unit{words[1], ufNone};
  for (std::size_t i = 2; i < words.size(); ++i) {
    if (words[i] == "main") unit.Flags |= ufMainUnit;
    else if (words[i] == "package") unit.Flags |= ufPackageUnit;
    else if (words[i] == "weak") unit.Flags |= ufWeakUnit;
    else return Error{"unknown unit flag \"" + words[i] + "\""};
  }
  info.Contains.push_back(unit);
  return Done{};
}

Status ReadStatement(const std::vector<std::string>& words, TPackageInfo& info) {
  const std::string& keyword = words[0];
  if (keyword == "usage") return ReadUsage(words, info);
  if (keyword == "contains") return ReadUnit(words, info);
  if (words.size() != 2) return Error{keyword + " needs exactly one name"};
  if (keyword == "package") info.Name = words[1];
  else if (keyword == "requires") info.Requires.push_back(words[1]);
  else return Error{"unknown statement \"" + keyword + "\""};
  return Done{};
}

}  // namespace

Result<TPackageInfo> ParsePackageInfo(std::string_view Text) {
  TPackageInfo info;
  bool usage_given = false;
  int line_number = 0;
  std::istringstream lines{std::string(Text)};
  for (std::string line; std::getline(lines, line);) {
    ++line_number;
    std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    usage_given |= words[0] == "usage";
    if (Status read = ReadStatement(words, info); !read) return Error{read.error().Message, line_number};
  }
  if (info.Name.empty()) return Error{"the description names no package"};
  if (!usage_given) return Error{"the description gives no usage"};
  return info;
}

}  // namespace ferrox::framework
