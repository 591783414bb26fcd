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

#include "ferrox/vpc/description/machine_file_parallel.h"
#include "ferrox/vpc/description/machine_file_reader.h"
#include "ferrox/vpc/description/toml_guard.h"
#include "ferrox/vpc/pci/pci_config_dump.h"
#include "ferrox/vpc/pci/pci_sysfs.h"

namespace vpc {

namespace {

using machine_file::Fault;
using machine_file::Reader;

constexpr const char* HostPciDevices = "/sys/bus/pci/devices";

int privilege_error(const Reader& reader, const toml::node& node, const std::string& key) {
  std::string value = reader.string(node, key);
  if (value == "granted") return 0;
  if (value == "EPERM") return EPERM;
  if (value == "ENOSYS") return ENOSYS;
  throw Fault{node, key, "\"" + value + "\" is not \"granted\", \"EPERM\" or \"ENOSYS\""};
}

void read_privilege(const Reader& reader, const toml::table& table, PrivilegeDescription& privilege) {
  reader.check_keys(table, "privilege", {"iopl", "ioperm"});
  if (auto* iopl = table.get("iopl")) privilege.iopl_error = privilege_error(reader, *iopl, "privilege.iopl");
  if (auto* ioperm = table.get("ioperm")) privilege.ioperm_error = privilege_error(reader, *ioperm, "privilege.ioperm");
}

template <std::size_t N>
void read_bases(const Reader& reader, const toml::node& node, const std::string& key, std::array<std::uint16_t, N>& bases) {
  const toml::array& array = reader.array(node, key, N);
  bases.fill(0);
  for (std::size_t slot = 0; slot < array.size(); ++slot)
    bases[slot] = static_cast<std::uint16_t>(reader.integer(array[slot], key + "[" + std::to_string(slot) + "]", 0xFFFF));
}

void read_bios(const Reader& reader, const toml::table& table, BiosDataArea& bios) {
  reader.check_keys(table, "bios", {"com", "lpt"});
  if (auto* com = table.get("com")) read_bases(reader, *com, "bios.com", bios.com);
  if (auto* lpt = table.get("lpt")) read_bases(reader, *lpt, "bios.lpt", bios.lpt);
}

// The virtual PC's own BIOS: the ROM of the built-in memory map.
const RomRegion& builtin_bios() {
  static const MemoryMap map = default_memory_map();
  return map.rom.front();
}

std::vector<std::uint8_t> rom_image(const Reader& reader, const toml::table& rom, const std::string& key) {
  const toml::node* image = rom.get("image");
  const toml::node* file = rom.get("file");
  if (!image == !file) throw Fault{rom, key, "give either image = \"bios\" or file = \"PATH\""};
  if (image) {
    if (reader.string(*image, key + ".image") != "bios") throw Fault{*image, key + ".image", "the only image is \"bios\""};
    return builtin_bios().content;
  }
  std::filesystem::path path = reader.directory() / reader.string(*file, key + ".file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Fault{*file, key + ".file", "cannot open " + path.string()};
  std::vector<std::uint8_t> content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (content.empty()) throw Fault{*file, key + ".file", path.string() + " is empty"};
  return content;
}

// Regions of both kinds, checked together: none may overlap another or pass 4 GiB.
struct Extent {
  std::uint64_t base, end;
  const toml::node* node;
  std::string key;
};

void check_extents(std::vector<Extent> extents) {
  std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.base < b.base; });
  for (std::size_t i = 0; i < extents.size(); ++i) {
    if (extents[i].end > PhysicalMemory::AddressSpace) throw Fault{*extents[i].node, extents[i].key, "reaches past 4 GiB"};
    if (i > 0 && extents[i].base < extents[i - 1].end)
      throw Fault{*extents[i].node, extents[i].key, "overlaps " + extents[i - 1].key};
  }
}

// The regions the file leaves out stay as built in, and are checked against the ones it gives.
std::vector<Extent> builtin_extents(const std::vector<RamRegion>& ram, const std::vector<RomRegion>& rom,
                                    const toml::table& table) {
  std::vector<Extent> extents;
  for (std::size_t i = 0; i < ram.size(); ++i)
    extents.push_back({ram[i].base, ram[i].base + std::uint64_t{ram[i].size}, &table,
                       "memory.ram[" + std::to_string(i) + "] (built in)"});
  for (std::size_t i = 0; i < rom.size(); ++i)
    extents.push_back({rom[i].base, rom[i].base + rom[i].content.size(), &table,
                       "memory.rom[" + std::to_string(i) + "] (built in)"});
  return extents;
}

std::uint32_t region_base(const Reader& reader, const toml::table& region, const std::string& key) {
  return static_cast<std::uint32_t>(reader.integer(reader.required(region, key, "base"), key + ".base", 0xFFFFFFFF));
}

void read_memory(const Reader& reader, const toml::table& table, MemoryMap& memory) {
  reader.check_keys(table, "memory", {"ram", "rom"});
  const toml::node* ram = table.get("ram");
  const toml::node* rom = table.get("rom");
  std::vector<Extent> extents = builtin_extents(ram ? std::vector<RamRegion>{} : memory.ram,
                                                rom ? std::vector<RomRegion>{} : memory.rom, table);
  if (ram) {
    memory.ram.clear();
    reader.for_each_table(*ram, "memory.ram", [&](const toml::table& region, const std::string& key) {
      reader.check_keys(region, key, {"base", "size"});
      std::uint32_t base = region_base(reader, region, key);
      std::uint64_t size = reader.integer(reader.required(region, key, "size"), key + ".size", 0xFFFFFFFF);
      if (size == 0) throw Fault{region, key + ".size", "a region of 0 bytes"};
      memory.ram.push_back({base, static_cast<std::uint32_t>(size)});
      extents.push_back({base, base + size, &region, key});
    });
  }
  if (rom) {
    memory.rom.clear();
    reader.for_each_table(*rom, "memory.rom", [&](const toml::table& region, const std::string& key) {
      reader.check_keys(region, key, {"base", "image", "file"});
      std::uint32_t base = region_base(reader, region, key);
      memory.rom.push_back({base, rom_image(reader, region, key)});
      extents.push_back({base, base + memory.rom.back().content.size(), &region, key});
    });
  }
  check_extents(std::move(extents));
}

PciLocation pci_slot(const Reader& reader, const toml::node& node, const std::string& key) {
  std::string slot = reader.string(node, key);
  unsigned bus = 0, device = 0, function = 0;
  char end = 0;
  if (std::sscanf(slot.c_str(), "%2x:%2x.%1x%c", &bus, &device, &function, &end) != 3 || device > 31 || function > 7)
    throw Fault{node, key, "\"" + slot + "\" is not a slot \"bus:device.function\" (hexadecimal, device 00..1f, function 0..7)"};
  return {static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device), static_cast<std::uint8_t>(function)};
}

PciFunctionImage pci_function(const Reader& reader, const toml::table& table, const std::string& key) {
  reader.check_keys(table, key, {"slot", "config", "regions"});
  PciFunctionImage image;
  image.location = pci_slot(reader, reader.required(table, key, "slot"), key + ".slot");
  const toml::node& config = reader.required(table, key, "config");
  auto bytes = parse_pci_config_dump(reader.string(config, key + ".config"));
  if (auto* error = std::get_if<std::string>(&bytes)) throw Fault{config, key + ".config", *error};
  image.config = std::get<PciConfigBytes>(bytes);
  if (auto* regions = table.get("regions")) {
    const toml::array& sizes = reader.array(*regions, key + ".regions", PciRegionCount);
    for (std::size_t region = 0; region < sizes.size(); ++region)
      image.region_sizes[region] = reader.integer(sizes[region], key + ".regions[" + std::to_string(region) + "]", 0xFFFFFFFF);
  }
  return image;
}

void read_pci(const Reader& reader, const toml::table& table, std::vector<PciFunctionImage>& functions) {
  reader.check_keys(table, "pci", {"mirror_host", "function"});
  const toml::node* mirror = table.get("mirror_host");
  const toml::node* listed = table.get("function");
  if (mirror && reader.boolean(*mirror, "pci.mirror_host")) {
    if (listed) throw Fault{*listed, "pci.function", "a machine that mirrors the host's PCI lists no functions of its own"};
    PciSysfsLoad host = load_pci_sysfs(HostPciDevices);
    if (!host.error.empty()) throw Fault{*mirror, "pci.mirror_host", host.error};
    functions = std::move(host.functions);
    return;
  }
  if (!listed) return;
  functions.clear();
  std::set<PciLocation> slots;
  reader.for_each_table(*listed, "pci.function", [&](const toml::table& entry, const std::string& key) {
    functions.push_back(pci_function(reader, entry, key));
    if (!slots.insert(functions.back().location).second) throw Fault{entry, key + ".slot", "a second function in this slot"};
  });
}

void read_fifo(const Reader& reader, const toml::node& node, std::optional<std::uint16_t>& port) {
  if (node.is_string()) {
    if (reader.string(node, "fifo_port") != "none") throw Fault{node, "fifo_port", "a port number, or \"none\""};
    port.reset();
    return;
  }
  std::uint64_t base = reader.integer(node, "fifo_port", 0xFFFF - (FifoDevice::PortCount - 1));
  port = static_cast<std::uint16_t>(base);
}

MachineDescription read_machine(const Reader& reader, const toml::table& root) {
  MachineDescription machine = builtin_machine();
  reader.check_keys(root, "", {"timer", "fifo_port", "privilege", "bios", "memory", "pci", machine_file::ParallelKey});
  if (auto* timer = root.get("timer")) machine.timer = reader.boolean(*timer, "timer");
  if (auto* fifo = root.get("fifo_port")) read_fifo(reader, *fifo, machine.fifo_port);
  if (auto* privilege = root.get("privilege")) read_privilege(reader, reader.table(*privilege, "privilege"), machine.privilege);
  if (auto* bios = root.get("bios")) read_bios(reader, reader.table(*bios, "bios"), machine.bios);
  if (auto* memory = root.get("memory")) read_memory(reader, reader.table(*memory, "memory"), machine.memory);
  if (auto* pci = root.get("pci")) read_pci(reader, reader.table(*pci, "pci"), machine.pci_functions);
  if (auto* parallel = root.get(machine_file::ParallelKey))
    machine_file::read_parallel_ports(reader, *parallel, machine.parallel_ports);
  return machine;
}

}  // namespace

MachineFileResult parse_machine_file(std::string_view text, const std::filesystem::path& file) {
  std::string name = file.string();
  if (auto refused = machine_file::refuse_before_toml(text))
    return name + ":" + std::to_string(refused->line) + ": " + refused->what;
  toml::parse_result parsed = toml::parse(text, name);
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    return name + ":" + std::to_string(error.source().begin.line) + ": " + std::string(error.description());
  }
  Reader reader{file.parent_path()};
  try {
    return read_machine(reader, parsed.table());
  } catch (const Fault& fault) {
    return name + ":" + std::to_string(fault.line) + ": " + (fault.key.empty() ? "" : fault.key + ": ") + fault.what;
  }
}

MachineFileResult load_machine_file(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) return file.string() + ": cannot open the machine file";
  std::ostringstream text;
  text << in.rdbuf();
  return parse_machine_file(text.str(), file);
}

}  // namespace vpc
