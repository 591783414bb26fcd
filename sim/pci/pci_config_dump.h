// Configuration-space dumps as text: one row a line, "offset: byte byte ...", in hexadecimal, the
// layout PCI listing tools print. Rows not given are zero.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/pci/pci_function.h"

namespace vpc {

// The bytes of a dump, or what is wrong with it ("row 2: ..."). Blank lines are skipped; a row
// may hold up to 16 bytes and must stay within the 4096-byte space.
VPC_API std::variant<PciConfigBytes, std::string> parse_pci_config_dump(std::string_view rows);

}  // namespace vpc
