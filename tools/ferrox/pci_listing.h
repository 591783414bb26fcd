// The PCI functions a component can reach, one line each in the form `lspci -n` prints them.
#pragma once

#include <string>
#include <vector>

#include "component/Ferrox32.h"

namespace ferrox_tool {

// Scans bus 0 and every bus behind a bridge found on the way, function 0 of each device first and
// the others only where function 0 says the device has several.
std::vector<std::string> list_pci_functions(ferrox::TFerrox32& component);

}  // namespace ferrox_tool
