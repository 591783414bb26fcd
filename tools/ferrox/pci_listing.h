// The PCI functions a component can reach, one line each in the form `lspci -n` prints them.
#pragma once

#include <string>
#include <vector>

#include "ferrox/component/Ferrox32.h"

namespace ferrox_tool {

// "BB:DD.F CCSS: VVVV:DDDD", with " (rev RR)" where the revision is not 0.
std::string pci_function_line(unsigned bus, unsigned device, unsigned function, const ferrox::TPciCfg& cfg);

// Scans bus 0 and every bus behind a bridge found on the way, function 0 of each device first and
// the others only where function 0 says the device has several.
std::vector<std::string> list_pci_functions(ferrox::TFerrox32& component);

}  // namespace ferrox_tool
