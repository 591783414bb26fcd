// SPDX-License-Identifier: MIT
// The class registry and the palette. Both hold pointers into the modules that define the
// classes, so unregistering a class (done for every class of a module when the module goes)
// takes it off the palette as well: nothing may point into an unloaded library.
#include "ferrox/framework/Registry.h"

#include <algorithm>
#include <typeindex>

namespace ferrox::framework {

namespace {

struct PalettePageEntry {
  std::string Name;
  std::vector<const TClassInfo*> Classes;
};

struct Registry {
  std::vector<const TClassInfo*> Classes;
  std::vector<PalettePageEntry> Palette;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

template <class Items, class Predicate>
void EraseIf(Items& items, Predicate predicate) {
  items.erase(std::remove_if(items.begin(), items.end(), predicate), items.end());
}

}  // namespace

bool RegisterClass(const TClassInfo& Class) {
  const TClassInfo* existing = FindClass(Class.ClassName);
  if (existing) return existing == &Class;
  TheRegistry().Classes.push_back(&Class);
  return true;
}

void UnregisterClass(const TClassInfo& Class) {
  Registry& registry = TheRegistry();
  EraseIf(registry.Classes, [&](const TClassInfo* c) { return c == &Class; });
  for (PalettePageEntry& page : registry.Palette) EraseIf(page.Classes, [&](const TClassInfo* c) { return c == &Class; });
  EraseIf(registry.Palette, [](const PalettePageEntry& page) { return page.Classes.empty(); });
}

const TClassInfo* FindClass(std::string_view ClassName) {
  for (const TClassInfo* c : TheRegistry().Classes)
    if (c->ClassName == ClassName) return c;
  return nullptr;
}

const TClassInfo* ClassOf(const TComponent& Component) {
  std::type_index type = typeid(Component);
  for (const TClassInfo* c : TheRegistry().Classes)
    if (std::type_index(*c->Type) == type) return c;
  return nullptr;
}

void RegisterComponents(std::string_view Page, std::initializer_list<const TClassInfo*> Classes) {
  std::vector<PalettePageEntry>& palette = TheRegistry().Palette;
  auto page = std::find_if(palette.begin(), palette.end(), [&](const PalettePageEntry& p) { return p.Name == Page; });
  if (page == palette.end()) page = palette.insert(palette.end(), PalettePageEntry{std::string(Page), {}});
  for (const TClassInfo* c : Classes) {
    if (!RegisterClass(*c)) continue;  // another class already answers to this name
    if (std::find(page->Classes.begin(), page->Classes.end(), c) == page->Classes.end()) page->Classes.push_back(c);
  }
  if (page->Classes.empty()) palette.erase(page);
}

std::vector<std::string> PalettePages() {
  std::vector<std::string> names;
  for (const PalettePageEntry& page : TheRegistry().Palette) names.push_back(page.Name);
  return names;
}

std::vector<const TClassInfo*> PalettePage(std::string_view Page) {
  for (const PalettePageEntry& page : TheRegistry().Palette)
    if (page.Name == Page) return page.Classes;
  return {};
}

}  // namespace ferrox::framework
