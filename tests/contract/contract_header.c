// SPDX-License-Identifier: MIT
/* The driver's header as a C program includes it: it compiles as C, and its records have the one
 * layout the module relies on for 32- and 64-bit callers alike. */
#include <stddef.h>

#include "driver/ferrox_ioctl.h"

_Static_assert(sizeof(struct ferrox_port_record) == 8, "port record");
_Static_assert(sizeof(struct ferrox_memory_head) == 16, "memory record head");
_Static_assert(offsetof(struct ferrox_memory_head, count) == 12, "memory record count");
_Static_assert(sizeof(struct ferrox_pci_request) == 64, "PCI record");
_Static_assert(offsetof(struct ferrox_pci_request, value) == 8, "PCI record value");
_Static_assert(sizeof(struct ferrox_irq_request) == 16, "interrupt record");
_Static_assert(offsetof(struct ferrox_irq_request, cookie) == 12, "interrupt record cookie");
