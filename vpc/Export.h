// SPDX-License-Identifier: MIT
// Symbol visibility of libferrox-vpc: the control API and the interposed C-library symbols.
#pragma once

#define VPC_API __attribute__((visibility("default")))
