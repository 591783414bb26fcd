// SPDX-License-Identifier: MIT
// Symbol visibility of libferrox-trace: what a program that links it calls (record_to).
#pragma once

#define TRACE_API __attribute__((visibility("default")))
