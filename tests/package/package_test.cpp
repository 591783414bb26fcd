// SPDX-License-Identifier: MIT
// libferrox loaded as a package, the way a designer or an application loads it: entry points,
// unit initialisation, registration, the palette icon and the package description.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "ferrox/framework/PackageLoader.h"
#include "ferrox/framework/Registry.h"
#include "tests/support/palette_bitmap.h"
#include "tests/support/descriptors.h"
#include "tests/support/virtual_pc.h"

using ferrox::framework::PackageHost;
using ferrox::vpc::Event;
using palette_bitmap::Field;

namespace {

std::unique_ptr<ferrox::framework::TPackage> Load(PackageHost host) {
  auto package = ferrox::framework::LoadPackage(FERROX_LIBRARY_PATH, host);
  EXPECT_TRUE(package.ok()) << package.error().Text();
  return package ? std::move(*package) : nullptr;
}

std::span<const std::uint8_t> Resource(const ferrox::framework::TPackage& package, std::string_view name) {
  auto resource = ferrox::framework::FindResource(package.Module(), name);
  EXPECT_TRUE(resource.has_value()) << name;
  return resource.value_or(std::span<const std::uint8_t>{});
}

class PackageTest : public VirtualPcTest {};

TEST_F(PackageTest, DesignLoadPutsTFerrox32OnDriversAndUnloadTakesItOff) {
  {
    auto package = Load(PackageHost::Design);
    ASSERT_TRUE(package);
    auto page = ferrox::framework::PalettePage("Drivers");
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0]->ClassName, "TFerrox32");
    EXPECT_EQ(ferrox::framework::PalettePages(), std::vector<std::string>{"Drivers"});
  }
  EXPECT_TRUE(ferrox::framework::PalettePage("Drivers").empty());
  EXPECT_EQ(ferrox::framework::FindClass("TFerrox32"), nullptr) << "the unloaded library's class is still registered";
}

TEST_F(PackageTest, ApplicationLoadNeverRegistersButTheClassCanBeCreated) {
  auto package = Load(PackageHost::Application);
  ASSERT_TRUE(package);
  EXPECT_TRUE(ferrox::framework::PalettePages().empty());
  const ferrox::framework::TClassInfo* ferrox = ferrox::framework::FindClass("TFerrox32");
  ASSERT_NE(ferrox, nullptr);
  ferrox::framework::TComponent* component = ferrox->Create(nullptr);
  EXPECT_EQ(ferrox->FindProperty("HardAccess")->Read(*component), ferrox::framework::TValue{true});
  EXPECT_EQ(ferrox->FindProperty("LPTNumber")->Read(*component), ferrox::framework::TValue{std::int64_t{1}});
  component->Free();
}

TEST_F(PackageTest, LoadingAndUnloadingAloneOpensNothingAndGrantsNothing) {
  int descriptors = open_descriptor_count();
  Load(PackageHost::Design).reset();
  Load(PackageHost::Application).reset();
  EXPECT_EQ(open_descriptor_count(), descriptors);
  for (Event event : {Event::Open, Event::Request, Event::Iopl, Event::Ioperm, Event::PortIn, Event::PortOut})
    EXPECT_TRUE(pc.log().of(event).empty());
}

TEST_F(PackageTest, UnitsAreInitialisedOnceInDependencyOrder) {
  auto package = Load(PackageHost::Application);
  ASSERT_TRUE(package);
  const ferrox::framework::TPackageInfoTable& table = package->Units();
  ASSERT_EQ(table.UnitCount, 2u);
  EXPECT_STREQ(table.Units[0].Name, "HW_Types");
  EXPECT_STREQ(table.Units[1].Name, "Ferrox32");
  const std::vector<std::string> order{"HW_Types", "Ferrox32"};
  EXPECT_EQ(package->Module().InitializedUnits, order);

  void* library = dlopen(FERROX_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  auto initialize = reinterpret_cast<void (*)()>(dlsym(library, "Initialize"));
  auto info_table = reinterpret_cast<const ferrox::framework::TPackageInfoTable* (*)()>(dlsym(library, "GetPackageInfoTable"));
  ASSERT_TRUE(initialize && info_table);
  EXPECT_EQ(info_table(), &table);
  initialize();
  EXPECT_EQ(package->Module().InitializedUnits, order) << "a second initialisation ran";
  dlclose(library);
}

// The library's own functions, reached as a program that links it would call them.
template <class Function>
Function LibraryFunction(const char* mangled_name) {
  void* library = dlopen(FERROX_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  void* function = library ? dlsym(library, mangled_name) : nullptr;
  if (library) dlclose(library);
  return reinterpret_cast<Function>(function);
}

void IgnoreInterrupt(void*, std::uint16_t) {}

// A component of the loaded package with its driver open and line 0 unmasked.
ferrox::framework::TComponent* ListeningComponent() {
  const ferrox::framework::TClassInfo* ferrox = ferrox::framework::FindClass("TFerrox32");
  ferrox::framework::TComponent* component = ferrox->Create(nullptr);
  ferrox->FindProperty("OnHwInterrupt")
      ->Write(*component, ferrox::framework::TMethod{reinterpret_cast<ferrox::framework::TMethod::CodePointer>(IgnoreInterrupt), nullptr});
  LibraryFunction<void (*)(ferrox::framework::TComponent*)>("_ZN6ferrox9TFerrox3210OpenDriverEv")(component);
  LibraryFunction<void (*)(ferrox::framework::TComponent*, std::uint8_t)>("_ZN6ferrox9TFerrox3215UnmaskInterruptEh")(component, 0);
  return component;
}

// A line stays hooked in the driver for a component the program never destroyed, so signal 44
// may still come after the library is gone; it must not end the program.
TEST_F(PackageTest, AnInterruptAfterUnloadingLeavesTheProgramRunning) {
  auto unload_then_interrupt = [this] {
    pc.reset();  // the forked child's machine its own, or its requests are refused
    auto package = Load(PackageHost::Application);
    ListeningComponent();  // never destroyed
    package.reset();
    if (dlopen(FERROX_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD)) _exit(2);  // still loaded: nothing tested
    pc.irqs().raise(0);
    _exit(pc.irqs().listeners().size() == 1 ? 0 : 3);
  };
  EXPECT_EXIT(unload_then_interrupt(), testing::ExitedWithCode(0), "");
}

// With no component left, nothing is hooked: signal 44 has its default action again.
TEST_F(PackageTest, UnloadingWithNoComponentLeftRestoresTheDefaultActionOfSignal44) {
  auto package = Load(PackageHost::Application);
  ListeningComponent()->Free();
  package.reset();
  struct sigaction action {};
  sigaction(44, nullptr, &action);
  EXPECT_EQ(action.sa_handler, SIG_DFL);
}

TEST_F(PackageTest, DescriptionServesBothHostsAndListsRequiresAndUnits) {
  auto package = Load(PackageHost::Application);
  ASSERT_TRUE(package);
  const ferrox::framework::TPackageInfo& info = package->Info();
  EXPECT_EQ(info.Name, "ferrox");
  EXPECT_FALSE(info.DesignOnly);
  EXPECT_FALSE(info.RunOnly);
  EXPECT_EQ(info.Requires, (std::vector<std::string>{"netbase", "visual", "base"}));
  ASSERT_EQ(info.Contains.size(), 4u);
  const std::pair<const char*, unsigned> units[] = {{"ferrox", ferrox::framework::ufMainUnit | ferrox::framework::ufPackageUnit},
                                                   {"HW_Types", ferrox::framework::ufNone},
                                                   {"SysInit", ferrox::framework::ufWeakUnit},
                                                   {"Ferrox32", ferrox::framework::ufNone}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(info.Contains[i].Name, units[i].first);
    EXPECT_EQ(info.Contains[i].Flags, units[i].second) << units[i].first;
  }
}

TEST(PackageInfo, UsageDecidesTheHostsAndFaultsNameTheirLine) {
  auto design = ferrox::framework::ParsePackageInfo("package p\nusage design\n");
  ASSERT_TRUE(design.ok());
  EXPECT_TRUE(design->DesignOnly);
  EXPECT_FALSE(design->RunOnly);
  auto faulty = ferrox::framework::ParsePackageInfo("package p\n\nusage runtime\ncontains u shared\n");
  ASSERT_FALSE(faulty.ok());
  EXPECT_EQ(faulty.error().Text(), "line 4: unknown unit flag \"shared\"");
  EXPECT_FALSE(ferrox::framework::ParsePackageInfo("package p\n").ok()) << "a description without usage";
}

TEST(PackageLoader, ALibraryThatIsNoPackageIsRefusedAndLeftUnloaded) {
  auto package = ferrox::framework::LoadPackage(VPC_LIBRARY_PATH, PackageHost::Design);
  ASSERT_FALSE(package.ok());
  EXPECT_NE(package.error().Message.find("not a package"), std::string::npos) << package.error().Text();
  auto missing = ferrox::framework::LoadPackage("/nonexistent/libnothing.so", PackageHost::Design);
  EXPECT_FALSE(missing.ok());
}

TEST_F(PackageTest, PaletteBitmapIsA24By24SixteenColourBitmapOf392Bytes) {
  auto package = Load(PackageHost::Design);
  ASSERT_TRUE(package);
  std::span<const std::uint8_t> bitmap = Resource(*package, "ferrox32");
  ASSERT_EQ(bitmap.size(), 392u);
  EXPECT_EQ(Field(bitmap, 0, 4), 40u);    // header size
  EXPECT_EQ(Field(bitmap, 4, 4), 24u);    // width
  EXPECT_EQ(Field(bitmap, 8, 4), 24u);    // height, positive: bottom row first
  EXPECT_EQ(Field(bitmap, 12, 2), 1u);    // planes
  EXPECT_EQ(Field(bitmap, 14, 2), 4u);    // bits per pixel
  EXPECT_EQ(Field(bitmap, 16, 4), 0u);    // uncompressed
  EXPECT_EQ(Field(bitmap, 20, 4), 288u);  // pixel bytes
  std::uint32_t colours_used = Field(bitmap, 32, 4);
  EXPECT_TRUE(colours_used == 0 || colours_used == 16) << colours_used;
  for (int entry = 0; entry < 16; ++entry) EXPECT_EQ(bitmap[40 + 4 * entry + 3], 0) << "reserved byte of colour " << entry;

  // Worth looking at: several colours are used, and the frame around the picture is one colour,
  // the one the designer makes transparent (the bottom-left pixel's).
  auto pixel = [&](int x, int y_from_top) { return palette_bitmap::Index(bitmap, x, y_from_top); };
  std::vector<bool> used(16);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) used[pixel(x, y)] = true;
  EXPECT_GE(std::count(used.begin(), used.end(), true), 6);
  int transparent = pixel(0, 23);
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(pixel(i, 0), transparent);
    EXPECT_EQ(pixel(i, 23), transparent);
    EXPECT_EQ(pixel(0, i), transparent);
    EXPECT_EQ(pixel(23, i), transparent);
  }
}

}  // namespace
