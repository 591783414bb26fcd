// SPDX-License-Identifier: MIT
// The virtual PC's PCI side on its own: configuration mechanism #1 on the port bus, the driver's
// checks of requests 16 and 17, and functions loaded from a sysfs tree.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <vector>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/pci/pci_bus.h"
#include "tests/support/virtual_pc.h"

using ferrox::TPciRequest;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t Enable = 0x80000000;

class MechanismOneTest : public VirtualPcTest {
 protected:
  void select(unsigned device, unsigned function, unsigned reg) {
    pc.ports().write(0xCF8, 4, Enable | device << 11 | function << 8 | reg);
  }
};

TEST_F(MechanismOneTest, OnlyADwordAtCf8IsTheAddressRegister) {
  pc.ports().write(0xCF8, 4, 0xFFFFFFFF);
  EXPECT_EQ(pc.ports().read(0xCF8, 4), 0x80FFFFFCu);  // reserved bits read 0
  pc.ports().write(0xCF9, 1, 0x06);
  pc.ports().write(0xCF8, 2, 0x0000);
  EXPECT_EQ(pc.ports().read(0xCF8, 4), 0x80FFFFFCu);
  EXPECT_EQ(pc.ports().read(0xCF8, 1), 0xFFu);
}

TEST_F(MechanismOneTest, DataLanesSelectBytesOfTheAddressedDword) {
  select(1, 1, 0x08);  // IDE: revision 00, programming interface 80, class 01 01
  EXPECT_EQ(pc.ports().read(0xCFC, 4), 0x01018000u);
  EXPECT_EQ(pc.ports().read(0xCFD, 1), 0x80u);
  EXPECT_EQ(pc.ports().read(0xCFE, 2), 0x0101u);
  EXPECT_EQ(pc.ports().read(0xCFE, 4), 0xFFFF0101u);  // the bytes past 0xCFF are nobody's
  select(1, 1, 0x0F);  // the low two bits of the register are not part of the address
  EXPECT_EQ(pc.ports().read(0xCFC, 4), 0x00004000u);
}

TEST_F(MechanismOneTest, DisabledOrAbsentReadsAllOnesAndDropsWrites) {
  pc.ports().write(0xCF8, 4, 3 << 11 | 0x3C);  // enable bit clear
  EXPECT_EQ(pc.ports().read(0xCFC, 4), 0xFFFFFFFFu);
  pc.ports().write(0xCFC, 1, 0x05);
  select(3, 0, 0x3C);
  EXPECT_EQ(pc.ports().read(0xCFC, 1), 0x0Bu);
  select(4, 0, 0x00);
  EXPECT_EQ(pc.ports().read(0xCFC, 4), 0xFFFFFFFFu);
  pc.ports().write(0xCF8, 4, Enable | 1 << 16);  // bus 1: nothing behind this host bridge
  EXPECT_EQ(pc.ports().read(0xCFC, 2), 0xFFFFu);
}

class PciDriverTest : public VirtualPcTest {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    fd = open("/dev/ferrox", O_RDONLY);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override { close(fd); }

  // The request's result, or -errno.
  int request(std::uint32_t code, TPciRequest& record) {
    errno = 0;
    int result = ioctl(fd, code, &record);
    return result == -1 ? -errno : result;
  }

  int fd = -1;
};

// A register value is the request's result as a long, zero-extended: a 64-bit caller receives
// every 32-bit value, while for a 32-bit caller 0xFFFFF001..0xFFFFFFFF read as failures.
TEST_F(PciDriverTest, RegisterValuesTravelZeroExtended) {
  TPciRequest probe{0, 0x18, 0x14, 4, 0xFFFFFFFF, {}};  // Ethernet I/O block: answers 0xFFFFFFC1
  ASSERT_EQ(request(ferrox::Request::PciWrite, probe), 0);
  errno = 0;
  int result = ioctl(fd, ferrox::Request::PciRead, &probe);
  if constexpr (sizeof(long) == 8) {
    EXPECT_EQ(static_cast<std::uint32_t>(result), 0xFFFFFFC1u);
    EXPECT_EQ(errno, 0) << "not an error";
  } else {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errno, 0x3F);
  }
}

// A sysfs devices directory built in a temporary directory.
class SysfsTest : public VirtualPcTest {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    char pattern[] = "/tmp/vpc-pci-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
  }
  void TearDown() override { fs::remove_all(root); }

  // The config file holds config_size bytes: a prefix of config, or config followed by zeros.
  void add(const std::string& name, const ferrox::vpc::PciConfigBytes& config, std::size_t config_size, const std::string& resource = "") {
    fs::create_directories(root / name);
    std::vector<char> bytes(config_size);
    std::memcpy(bytes.data(), config.data(), std::min(config_size, config.size()));
    std::ofstream(root / name / "config", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!resource.empty()) std::ofstream(root / name / "resource") << resource;
  }

  static ferrox::vpc::PciConfigBytes header(std::uint32_t ids, std::uint8_t header_type) {
    ferrox::vpc::PciConfigBytes config{};
    std::memcpy(config.data(), &ids, 4);
    config[0x0E] = header_type;
    return config;
  }

  fs::path root;
};

TEST_F(SysfsTest, LoadsDomainZeroFunctionsInOrderWithTheirRegionSizes) {
  ferrox::vpc::PciConfigBytes disk = header(0x0A548086, 0x00);
  disk[0x10] = 0x04;  // 64-bit memory BAR
  for (unsigned i = 0x40; i < ferrox::vpc::PciConfigSize; ++i) disk[i] = static_cast<std::uint8_t>(i);
  add("0000:03:00.0", disk, 4096,
      "0x00000000fe000000 0x00000000fe003fff 0x0000000000140204\n"
      "0x0000000000000000 0x0000000000000000 0x0000000000000000\n");
  add("0000:00:1c.0", header(0x7A388086, 0x81), 64);  // unprivileged readers get only 64 bytes
  add("0001:00:00.0", header(0x11111111, 0x00), 256);  // another domain
  add("0000:00:1f.3", header(0x7AD08086, 0x80), 32);   // too short to be a header
  fs::create_directories(root / "not-a-function");

  auto load = ferrox::vpc::load_pci_sysfs(root);
  ASSERT_TRUE(load.ok()) << load.error().Text();
  const std::vector<ferrox::vpc::PciFunctionImage>& functions = *load;
  ASSERT_EQ(functions.size(), 2u);
  EXPECT_EQ(functions[0].location, (ferrox::vpc::PciLocation{0, 0x1C, 0}));
  EXPECT_EQ(functions[1].location, (ferrox::vpc::PciLocation{3, 0, 0}));
  EXPECT_EQ(functions[1].config, disk);
  EXPECT_EQ(functions[1].region_sizes[0], 0x4000u);
  EXPECT_EQ(functions[1].region_sizes[1], 0u);

  auto missing = ferrox::vpc::load_pci_sysfs(root / "missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().Source, (root / "missing").string());
}

TEST_F(SysfsTest, LoadedFunctionsBehaveAsTheirHeadersSay) {
  ferrox::vpc::PciConfigBytes disk = header(0x0A548086, 0x00);
  disk[0x10] = 0x04;
  add("0000:03:00.0", disk, 256, "0xfe000000 0xfe003fff 0x140204\n0 0 0\n");
  ferrox::vpc::PciConfigBytes bridge = header(0x7A388086, 0x01);
  bridge[0x19] = 3;
  add("0000:00:1c.0", bridge, 256);
  ferrox::vpc::MachineDescription machine;
  machine.pci_functions = ferrox::vpc::load_pci_sysfs(root).value();
  pc.reset(machine);

  ferrox::vpc::PciFunction* controller = pc.pci().find({3, 0, 0});
  ASSERT_NE(controller, nullptr);
  controller->write(0x10, 4, 0xFFFFFFFF);
  controller->write(0x14, 4, 0xFFFFFFFF);
  EXPECT_EQ(controller->read(0x10, 4), 0xFFFFC004u);  // 16 KiB, 64-bit: the upper half is all address
  EXPECT_EQ(controller->read(0x14, 4), 0xFFFFFFFFu);
  controller->write(0x18, 4, 0xFFFFFFFF);
  EXPECT_EQ(controller->read(0x18, 4), 0u);

  ferrox::vpc::PciFunction* port = pc.pci().find({0, 0x1C, 0});
  ASSERT_NE(port, nullptr);
  port->write(0x18, 4, 0x00050400);  // primary 0, secondary 4, subordinate 5
  EXPECT_EQ(port->read(0x18, 4), 0x00050400u);
  EXPECT_EQ(pc.pci().find({0, 0, 0}), nullptr);  // the default chipset is gone
}

}  // namespace
