// SPDX-License-Identifier: MIT
// TFerrox32's class information: its published properties, in order. HardAccess and LPTNumber
// are written through their accessors, so a form loaded while the driver is closed keeps the
// component in the state those accessors allow.
#include "ferrox/component/Published.h"

#include "ferrox/component/Ferrox32.h"

namespace ferrox {

const framework::TClassInfo& Ferrox32Class() {
  static const framework::TClassInfo info = framework::ComponentClass<TFerrox32>(
      "TFerrox32",
      {
          framework::EventProperty("OnHwInterrupt", &TFerrox32::OnHwInterrupt, &TFerrox32::SetOnHwInterrupt),
          framework::BooleanProperty("HardAccess", &TFerrox32::HardAccess, &TFerrox32::fSetHardAccess, true),
          framework::OrdinalProperty("LPTNumber", &TFerrox32::LPTNumber, &TFerrox32::fSetLPTNumber, Byte{1}),
      });
  return info;
}

}  // namespace ferrox
