// SPDX-License-Identifier: MIT
// ferrox package: a package loaded as the designer loads it: its description, the palette pages
// with their classes and published properties, and a class's palette bitmap as a PNG.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>

#include "ferrox/framework/PackageLoader.h"
#include "ferrox/framework/Registry.h"
#include "tools/ferrox/command.h"
#include "tools/ferrox/package/palette_icon.h"

namespace ferrox_tool {

namespace {

struct PackageOptions {
  std::string path;
  std::string icon;
};

std::string usage(const ferrox::framework::TPackageInfo& info) {
  if (info.DesignOnly) return "design time only";
  if (info.RunOnly) return "run time only";
  return "design and run time";
}

std::string unit_line(const ferrox::framework::TContainedUnit& unit) {
  std::vector<std::string> flags;
  if (unit.Flags & ferrox::framework::ufMainUnit) flags.push_back("main");
  if (unit.Flags & ferrox::framework::ufPackageUnit) flags.push_back("package");
  if (unit.Flags & ferrox::framework::ufWeakUnit) flags.push_back("weak");
  return flags.empty() ? unit.Name : fmt::format("{} ({})", unit.Name, fmt::join(flags, ", "));
}

void show_description(const ferrox::framework::TPackageInfo& info) {
  std::cout << "package " << info.Name << ", for " << usage(info) << '\n';
  std::cout << "  requires: " << fmt::format("{}", fmt::join(info.Requires, ", ")) << '\n';
  std::vector<std::string> units;
  for (const ferrox::framework::TContainedUnit& unit : info.Contains) units.push_back(unit_line(unit));
  std::cout << "  contains: " << fmt::format("{}", fmt::join(units, ", ")) << '\n';
}

std::string property_line(const ferrox::framework::TPropertyInfo& property) {
  switch (property.Kind) {
    case ferrox::framework::TTypeKind::Method:
      return property.Name + ": event";
    case ferrox::framework::TTypeKind::Boolean:
      return fmt::format("{}: Boolean, default {}", property.Name,
                         std::get<bool>(property.Default.value_or(false)) ? "True" : "False");
    case ferrox::framework::TTypeKind::Ordinal:
      break;
  }
  return fmt::format("{}: {}..{}, default {}", property.Name, property.MinValue, property.MaxValue,
                     std::get<std::int64_t>(property.Default.value_or(std::int64_t{0})));
}

void show_palette() {
  std::vector<std::string> pages = ferrox::framework::PalettePages();
  if (pages.empty()) std::cout << "palette: nothing registered\n";
  for (const std::string& page : pages) {
    std::cout << "palette page \"" << page << "\"\n";
    for (const ferrox::framework::TClassInfo* type : ferrox::framework::PalettePage(page)) {
      std::cout << "  " << type->ClassName << '\n';
      for (const ferrox::framework::TPropertyInfo& property : type->Properties) std::cout << "    " << property_line(property) << '\n';
    }
  }
}

// The palette bitmap of a class is the resource named after it: "TFerrox32" -> "ferrox32".
std::string bitmap_name(const std::string& class_name) {
  std::string name = class_name.starts_with('T') ? class_name.substr(1) : class_name;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name;
}

ferrox::Status write_icon(const ferrox::framework::TPackage& package, const std::string& file) {
  for (const std::string& page : ferrox::framework::PalettePages())
    for (const ferrox::framework::TClassInfo* type : ferrox::framework::PalettePage(page)) {
      std::string name = bitmap_name(type->ClassName);
      auto bitmap = ferrox::framework::FindResource(package.Module(), name);
      if (!bitmap) continue;
      FERROX_TRY(write_palette_icon_png(*bitmap, file));
      std::cout << "palette bitmap \"" << name << "\" of " << type->ClassName << " written to " << file << '\n';
      return ferrox::Done{};
    }
  return ferrox::Error{"the package carries no palette bitmap for a class it registers"};
}

ferrox::Status show_package(const PackageOptions& options) {
  FERROX_TRY_ASSIGN(auto package, ferrox::framework::LoadPackage(options.path, ferrox::framework::PackageHost::Design));
  show_description(package->Info());
  show_palette();
  if (options.icon.empty()) return ferrox::Done{};
  return write_icon(*package, options.icon);
}

}  // namespace

void add_package_command(CLI::App& app, Command& selected) {
  auto options = std::make_shared<PackageOptions>();
  CLI::App* package = app.add_subcommand("package", "Load a package as the designer does and show what it registers");
  package->add_option("PATH", options->path, "The package library, e.g. libferrox.so")->required();
  package->add_option("--icon", options->icon, "Write the palette bitmap to this PNG file")->type_name("FILE.png");
  package->callback([&selected, options] {
    selected = {Needs::Nothing, [options](ferrox::TFerrox32*) { return show_package(*options); }};
  });
}

}  // namespace ferrox_tool
