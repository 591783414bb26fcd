// SPDX-License-Identifier: MIT
// The published properties of TFerrox32, as the framework streams them with forms and shows them
// in its designer.
#pragma once

#include "ferrox/framework/TypeInfo.h"

namespace ferrox {

const framework::TClassInfo& Ferrox32Class();

}  // namespace ferrox
