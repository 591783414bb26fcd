// SPDX-License-Identifier: GPL-2.0 OR MIT
/*
 * PCI requests 16 and 17 on domain 0, through the kernel's configuration accessors, so they are
 * serialised with the kernel's own configuration cycles instead of racing them on the ports.
 */
#include <linux/pci.h>
#include <linux/uaccess.h>

#include "ferrox.h"

#define FERROX_PCI_BUSES 256u
#define FERROX_PCI_DEVFNS 256u

/* Bus and function exist as numbers; the register is a whole, naturally aligned, in-space access. */
static bool register_access_valid(const struct ferrox_pci_request *r)
{
	if (r->bus >= FERROX_PCI_BUSES || r->devfn >= FERROX_PCI_DEVFNS)
		return false;
	if (r->count != 1 && r->count != 2 && r->count != 4)
		return false;
	return r->reg % r->count == 0 && r->reg + r->count <= FERROX_PCI_SPACE_SIZE;
}

static u32 all_ones(unsigned int width)
{
	return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

static int read_register(struct pci_bus *bus, unsigned int devfn, int reg, unsigned int width, u32 *value)
{
	u16 word;
	u8 byte;
	int err;

	switch (width) {
	case 1:
		err = pci_bus_read_config_byte(bus, devfn, reg, &byte);
		*value = byte;
		break;
	case 2:
		err = pci_bus_read_config_word(bus, devfn, reg, &word);
		*value = word;
		break;
	default:
		err = pci_bus_read_config_dword(bus, devfn, reg, value);
		break;
	}
	return pcibios_err_to_errno(err);
}

static int write_register(struct pci_bus *bus, unsigned int devfn, int reg, unsigned int width, u32 value)
{
	int err;

	switch (width) {
	case 1:
		err = pci_bus_write_config_byte(bus, devfn, reg, value);
		break;
	case 2:
		err = pci_bus_write_config_word(bus, devfn, reg, value);
		break;
	default:
		err = pci_bus_write_config_dword(bus, devfn, reg, value);
		break;
	}
	return pcibios_err_to_errno(err);
}

/* Answers 1 with the header written over the record, or 0 (record untouched) when there is no function. */
static long read_header(struct pci_bus *bus, unsigned int devfn, struct ferrox_pci_request __user *request)
{
	u32 header[FERROX_PCI_HEADER_SIZE / 4];
	unsigned int i;

	if (!bus)
		return 0;
	for (i = 0; i < ARRAY_SIZE(header); i++)
		if (read_register(bus, devfn, 4 * i, 4, &header[i]))
			return 0;
	/* An absent function answers all ones; vendor 0xFFFF is reserved for exactly that. */
	if ((header[0] & 0xFFFF) == 0xFFFF)
		return 0;
	return copy_to_user(request, header, sizeof(header)) ? -EFAULT : 1;
}

/*
 * A register value travels as the result, zero-extended, so a 64-bit caller receives every 32-bit
 * value. A 32-bit caller's C library takes 0xFFFFF001..0xFFFFFFFF for an error number.
 */
long ferrox_pci_read(struct ferrox_pci_request __user *request)
{
	struct ferrox_pci_request r;
	struct pci_bus *bus;
	u32 value;

	if (copy_from_user(&r, request, sizeof(r)))
		return -EFAULT;
	bus = r.bus < FERROX_PCI_BUSES ? pci_find_bus(0, r.bus) : NULL;

	if (r.count == FERROX_PCI_HEADER_SIZE) {
		if (r.bus >= FERROX_PCI_BUSES || r.devfn >= FERROX_PCI_DEVFNS || r.reg != 0)
			return -EINVAL;
		return read_header(bus, r.devfn, request);
	}
	if (!register_access_valid(&r))
		return -EINVAL;
	/* A bus the kernel did not find reads as an absent function does: all ones. */
	if (!bus || read_register(bus, r.devfn, r.reg, r.count, &value))
		value = all_ones(r.count);
	return value;
}

long ferrox_pci_write(struct ferrox_pci_request __user *request)
{
	struct ferrox_pci_request r;
	struct pci_bus *bus;

	if (copy_from_user(&r, request, sizeof(r)))
		return -EFAULT;
	if (!register_access_valid(&r) || (r.value & ~all_ones(r.count)))
		return -EINVAL;
	bus = pci_find_bus(0, r.bus);
	if (!bus)
		return -ENODEV;
	return write_register(bus, r.devfn, r.reg, r.count, r.value);
}
