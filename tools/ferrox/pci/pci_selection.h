// SPDX-License-Identifier: MIT
// Which functions pci list shows, chosen as lspci's -s and -d choose them: by where they are,
// "[[[[domain]:]bus]:][device][.[function]]", and by what they are, "[vendor]:[device][:class]".
// A field left empty, or written *, matches every function.
#pragma once

#include <optional>
#include <string_view>

#include "ferrox/common/Result.h"
#include "tools/ferrox/pci/pci_listing.h"
#include "tools/ferrox/support/numbers.h"

namespace ferrox_tool {

struct PciSelection {
  std::optional<unsigned> domain, bus, device, function;  // -s
  std::optional<unsigned> vendor_id, device_id, class_id;  // -d; class_id is class << 8 | subclass

  bool selects(const PciFunctionFound& found) const;
};

// Adds what -s TEXT asks for to selection; an error names the field at fault.
ferrox::Status select_slots(std::string_view text, PciSelection& selection);
// Adds what -d TEXT asks for to selection.
ferrox::Status select_ids(std::string_view text, PciSelection& selection);

}  // namespace ferrox_tool
