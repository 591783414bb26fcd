// SPDX-License-Identifier: MIT
// Symbol visibility of the C-library names an interposer defines (interposed_symbols.inc), in
// whichever shared library includes them.
#pragma once

#define INTERPOSED_API __attribute__((visibility("default")))
