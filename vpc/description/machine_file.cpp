// SPDX-License-Identifier: MIT
// Reading machine files with toml++. Every key is checked: an unknown key, a value of the wrong
// type or out of range stops the reading with the key and its line, so a typing error never
// leaves a machine quietly different from the one written down.
#include "ferrox/vpc/description/machine_file.h"

#include <errno.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "ferrox/vpc/description/machine_file_reader.h"
#include "ferrox/vpc/description/toml_guard.h"
#include "ferrox/vpc/platform/fifo_device.h"

namespace ferrox::vpc {

namespace {

using machine_file::Reader;

constexpr const char* HostPciDevices = "/sys/bus/pci/devices";
// IDENTIFY DEVICE has 40 characters for the model.
constexpr std::size_t AtaModelLength = 40;

int privilege_error(Reader& reader, const toml::node& node, const std::string& key) {
  std::string value = reader.string(node, key);
  if (value == "EPERM") return EPERM;
  if (value == "ENOSYS") return ENOSYS;
  if (value != "granted") reader.fail(node, key, "\"" + value + "\" is not \"granted\", \"EPERM\" or \"ENOSYS\"");
  return 0;
}

void read_privilege(Reader& reader, const toml::table& table, PrivilegeDescription& privilege) {
  reader.check_keys(table, "privilege", {"iopl", "ioperm"});
  if (auto* iopl = table.get("iopl")) privilege.iopl_error = privilege_error(reader, *iopl, "privilege.iopl");
  if (auto* ioperm = table.get("ioperm")) privilege.ioperm_error = privilege_error(reader, *ioperm, "privilege.ioperm");
}

template <std::size_t N>
void read_bases(Reader& reader, const toml::node& node, const std::string& key, std::array<std::uint16_t, N>& bases) {
  const toml::array& array = reader.array(node, key, N);
  bases.fill(0);
  for (std::size_t slot = 0; slot < array.size(); ++slot)
    bases[slot] = static_cast<std::uint16_t>(reader.integer(array[slot], key + "[" + std::to_string(slot) + "]", 0xFFFF));
}

void read_bios(Reader& reader, const toml::table& table, BiosDataArea& bios) {
  reader.check_keys(table, "bios", {"com", "lpt"});
  if (auto* com = table.get("com")) read_bases(reader, *com, "bios.com", bios.com);
  if (auto* lpt = table.get("lpt")) read_bases(reader, *lpt, "bios.lpt", bios.lpt);
}

// The virtual PC's own BIOS: the ROM of the built-in memory map.
const RomRegion& builtin_bios() {
  static const MemoryMap map = default_memory_map();
  return map.rom.front();
}

std::vector<std::uint8_t> rom_image(Reader& reader, const toml::table& rom, const std::string& key) {
  const toml::node* image = rom.get("image");
  const toml::node* file = rom.get("file");
  if (!image == !file) {
    reader.fail(rom, key, "give either image = \"bios\" or file = \"PATH\"");
    return {};
  }
  if (image) {
    if (reader.string(*image, key + ".image") != "bios") reader.fail(*image, key + ".image", "the only image is \"bios\"");
    return builtin_bios().content;
  }
  std::filesystem::path path = reader.directory() / reader.string(*file, key + ".file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    reader.fail(*file, key + ".file", "cannot open " + path.string());
    return {};
  }
  std::vector<std::uint8_t> content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (content.empty()) reader.fail(*file, key + ".file", path.string() + " is empty");
  return content;
}

// Regions of every kind, checked together: none may overlap another or pass 4 GiB.
struct Extent {
  std::uint64_t base, end;
  const toml::node* node;
  std::string key;
};

void check_extents(Reader& reader, std::vector<Extent> extents) {
  std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.base < b.base; });
  for (std::size_t i = 0; i < extents.size(); ++i) {
    if (extents[i].end > PhysicalMemory::AddressSpace) reader.fail(*extents[i].node, extents[i].key, "reaches past 4 GiB");
    if (i > 0 && extents[i].base < extents[i - 1].end)
      reader.fail(*extents[i].node, extents[i].key, "overlaps " + extents[i - 1].key);
  }
}

// The regions of a list the file leaves out stay as built in, and are checked against the ones it
// gives.
void add_builtin_extents(std::vector<Extent>& extents, const std::vector<RamRegion>& regions, const std::string& list,
                         const toml::table& table) {
  for (std::size_t i = 0; i < regions.size(); ++i)
    extents.push_back({regions[i].base, regions[i].base + std::uint64_t{regions[i].size}, &table,
                       list + "[" + std::to_string(i) + "] (built in)"});
}

std::uint32_t region_base(Reader& reader, const toml::table& region, const std::string& key) {
  return static_cast<std::uint32_t>(reader.integer(reader.required(region, key, "base"), key + ".base", 0xFFFFFFFF));
}

// A list of { base, size } regions: RAM, or device memory.
void read_regions(Reader& reader, const toml::node& node, const std::string& list, std::vector<RamRegion>& regions,
                  std::vector<Extent>& extents) {
  regions.clear();
  reader.for_each_table(node, list, [&](const toml::table& region, const std::string& key) {
    reader.check_keys(region, key, {"base", "size"});
    std::uint32_t base = region_base(reader, region, key);
    std::uint64_t size = reader.integer(reader.required(region, key, "size"), key + ".size", 0xFFFFFFFF);
    if (size == 0) reader.fail(region, key + ".size", "a region of 0 bytes");
    regions.push_back({base, static_cast<std::uint32_t>(size)});
    extents.push_back({base, base + size, &region, key});
  });
}

void read_memory(Reader& reader, const toml::table& table, MemoryMap& memory) {
  reader.check_keys(table, "memory", {"ram", "rom", "device"});
  const toml::node* ram = table.get("ram");
  const toml::node* rom = table.get("rom");
  const toml::node* device = table.get("device");
  std::vector<Extent> extents;
  if (!ram) add_builtin_extents(extents, memory.ram, "memory.ram", table);
  if (!device) add_builtin_extents(extents, memory.device, "memory.device", table);
  if (!rom)
    for (std::size_t i = 0; i < memory.rom.size(); ++i)
      extents.push_back({memory.rom[i].base, memory.rom[i].base + memory.rom[i].content.size(), &table,
                         "memory.rom[" + std::to_string(i) + "] (built in)"});
  if (ram) read_regions(reader, *ram, "memory.ram", memory.ram, extents);
  if (device) read_regions(reader, *device, "memory.device", memory.device, extents);
  if (rom) {
    memory.rom.clear();
    reader.for_each_table(*rom, "memory.rom", [&](const toml::table& region, const std::string& key) {
      reader.check_keys(region, key, {"base", "image", "file"});
      std::uint32_t base = region_base(reader, region, key);
      memory.rom.push_back({base, rom_image(reader, region, key)});
      extents.push_back({base, base + memory.rom.back().content.size(), &region, key});
    });
  }
  check_extents(reader, std::move(extents));
}

PciLocation pci_slot(Reader& reader, const toml::node& node, const std::string& key) {
  std::string slot = reader.string(node, key);
  unsigned bus = 0, device = 0, function = 0;
  char end = 0;
  if (std::sscanf(slot.c_str(), "%2x:%2x.%1x%c", &bus, &device, &function, &end) != 3 || device > 31 || function > 7)
    reader.fail(node, key, "\"" + slot + "\" is not a slot \"bus:device.function\" (hexadecimal, device 00..1f, function 0..7)");
  return {static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device & 0x1F), static_cast<std::uint8_t>(function & 7)};
}

PciFunctionImage pci_function(Reader& reader, const toml::table& table, const std::string& key) {
  reader.check_keys(table, key, {"slot", "config", "regions"});
  PciFunctionImage image;
  image.location = pci_slot(reader, reader.required(table, key, "slot"), key + ".slot");
  const toml::node& config = reader.required(table, key, "config");
  ferrox::Result<PciConfigBytes> bytes = parse_pci_config_dump(reader.string(config, key + ".config"));
  if (bytes) image.config = *bytes;
  else reader.fail(config, key + ".config", bytes.error().Message);
  if (auto* regions = table.get("regions")) {
    const toml::array& sizes = reader.array(*regions, key + ".regions", PciRegionCount);
    for (std::size_t region = 0; region < sizes.size(); ++region)
      image.region_sizes[region] = reader.integer(sizes[region], key + ".regions[" + std::to_string(region) + "]", 0xFFFFFFFF);
  }
  return image;
}

void read_pci(Reader& reader, const toml::table& table, std::vector<PciFunctionImage>& functions) {
  reader.check_keys(table, "pci", {"mirror_host", "function"});
  const toml::node* mirror = table.get("mirror_host");
  const toml::node* listed = table.get("function");
  if (mirror && reader.boolean(*mirror, "pci.mirror_host")) {
    if (listed) return reader.fail(*listed, "pci.function", "a machine that mirrors the host's PCI lists no functions of its own");
    ferrox::Result<std::vector<PciFunctionImage>> host = load_pci_sysfs(HostPciDevices);
    if (!host) return reader.fail(*mirror, "pci.mirror_host", host.error().Text());
    functions = std::move(*host);
    return;
  }
  if (!listed) return;
  functions.clear();
  std::set<PciLocation> slots;
  reader.for_each_table(*listed, "pci.function", [&](const toml::table& entry, const std::string& key) {
    functions.push_back(pci_function(reader, entry, key));
    if (!slots.insert(functions.back().location).second) reader.fail(entry, key + ".slot", "a second function in this slot");
  });
}

void read_fifo(Reader& reader, const toml::node& node, std::optional<std::uint16_t>& port) {
  if (node.is_string()) {
    if (reader.string(node, "fifo_port") != "none") reader.fail(node, "fifo_port", "a port number, or \"none\"");
    port.reset();
    return;
  }
  port = static_cast<std::uint16_t>(reader.integer(node, "fifo_port", 0xFFFF - (FifoDevice::PortCount - 1)));
}

void read_ata_disk_model(Reader& reader, const toml::node& node, std::optional<std::string>& model) {
  std::string name = reader.string(node, "ata_disk_model");
  bool printable = std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (name.empty() || name.size() > AtaModelLength || !printable)
    reader.fail(node, "ata_disk_model", "the model is 1 to 40 printable ASCII characters, or \"none\" for no disk");
  if (name == "none") model.reset();
  else model = name;
}

MachineDescription read_machine(Reader& reader, const toml::table& root) {
  MachineDescription machine = builtin_machine();
  reader.check_keys(root, "",
                    {"timer", "fifo_port", "ata_disk_model", "privilege", "bios", "memory", "pci", machine_file::ParallelKey});
  if (auto* timer = root.get("timer")) machine.timer = reader.boolean(*timer, "timer");
  if (auto* fifo = root.get("fifo_port")) read_fifo(reader, *fifo, machine.fifo_port);
  if (auto* ata = root.get("ata_disk_model")) read_ata_disk_model(reader, *ata, machine.ata_disk_model);
  if (auto* privilege = root.get("privilege")) read_privilege(reader, reader.table(*privilege, "privilege"), machine.privilege);
  if (auto* bios = root.get("bios")) read_bios(reader, reader.table(*bios, "bios"), machine.bios);
  if (auto* memory = root.get("memory")) read_memory(reader, reader.table(*memory, "memory"), machine.memory);
  if (auto* pci = root.get("pci")) read_pci(reader, reader.table(*pci, "pci"), machine.pci_functions);
  if (auto* parallel = root.get(machine_file::ParallelKey))
    machine_file::read_parallel_ports(reader, *parallel, machine.parallel_ports);
  return machine;
}

}  // namespace

ferrox::Result<MachineDescription> parse_machine_file(std::string_view text, const std::filesystem::path& file) {
  std::string name = file.string();
  if (auto refused = machine_file::refuse_before_toml(text))
    return ferrox::Error{refused->what, static_cast<int>(refused->line), name};
  toml::parse_result parsed = toml::parse(text, name);
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    return ferrox::Error{std::string(error.description()), static_cast<int>(error.source().begin.line), name};
  }
  Reader reader{file.parent_path()};
  MachineDescription machine = read_machine(reader, parsed.table());
  if (const auto& fault = reader.fault()) {
    std::string message = fault->key.empty() ? fault->what : fault->key + ": " + fault->what;
    return ferrox::Error{message, static_cast<int>(fault->line), name};
  }
  return machine;
}

ferrox::Result<MachineDescription> load_machine_file(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) return ferrox::Error{"cannot open the machine file", 0, file.string()};
  std::ostringstream text;
  text << in.rdbuf();
  return parse_machine_file(text.str(), file);
}

}  // namespace ferrox::vpc
