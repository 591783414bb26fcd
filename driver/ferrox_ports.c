// SPDX-License-Identifier: GPL-2.0-only
/*
 * Port requests 4..9: one port instruction of 8, 16 or 32 bits per request.
 *
 * The PCI configuration ports 0xCF8..0xCFF are not reached with instructions, which would race the
 * kernel's own configuration cycles: the address written to 0xCF8 (as a double word) is kept per
 * descriptor, and 0xCFC..0xCFF read and write the register it names through the kernel's PCI path,
 * with the checks of requests 16 and 17, but as the bus answers a port access: with the enable bit
 * clear or no function at the address, reads give all ones and writes go nowhere. Other accesses
 * there (0xCF9 is the chipset's reset control) are refused with EPERM.
 */
#include <linux/io.h>
#include <linux/uaccess.h>

#include "ferrox.h"

#define FERROX_PORT_SPACE 0x10000u
#define PCI_CONFIG_ADDRESS 0xCF8u
#define PCI_CONFIG_DATA 0xCFCu
#define PCI_CONFIG_END 0xD00u
#define PCI_CONFIG_ENABLE 0x80000000u

/* A wide transfer covers width consecutive ports, all of which must exist. */
static bool port_range_valid(u32 port, unsigned int width)
{
	return port <= FERROX_PORT_SPACE - width;
}

static bool reaches_pci_config(u32 port, unsigned int width)
{
	return port + width > PCI_CONFIG_ADDRESS && port < PCI_CONFIG_END;
}

/*
 * The register the latched address and a data port access name; false where the access is not
 * one that the configuration mechanism serves (not the data ports, or not naturally aligned).
 */
static bool config_register(u32 address, u32 port, unsigned int width, unsigned int *reg)
{
	if (port < PCI_CONFIG_DATA || port % width != 0)
		return false;
	*reg = (address & 0xFC) + (port - PCI_CONFIG_DATA);
	return true;
}

static long pci_config_in(struct ferrox_file *f, u32 port, unsigned int width, u32 *value)
{
	unsigned int reg;

	if (port == PCI_CONFIG_ADDRESS && width == 4) {
		*value = f->pci_address;
		return 0;
	}
	if (!config_register(f->pci_address, port, width, &reg))
		return -EPERM;
	if (!(f->pci_address & PCI_CONFIG_ENABLE)) {
		*value = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
		return 0;
	}
	*value = ferrox_pci_config_read((f->pci_address >> 16) & 0xFF, (f->pci_address >> 8) & 0xFF, reg, width);
	return 0;
}

static long pci_config_out(struct ferrox_file *f, u32 port, unsigned int width, u32 value)
{
	unsigned int reg;
	long err;

	if (port == PCI_CONFIG_ADDRESS && width == 4) {
		f->pci_address = value;
		return 0;
	}
	if (!config_register(f->pci_address, port, width, &reg))
		return -EPERM;
	if (!(f->pci_address & PCI_CONFIG_ENABLE))
		return 0;
	err = ferrox_pci_config_write((f->pci_address >> 16) & 0xFF, (f->pci_address >> 8) & 0xFF, reg, width, value);
	return err == -ENODEV ? 0 : err;
}

/* The latched address is the descriptor's: its accesses hold the descriptor's lock. */
static long pci_config_access(struct ferrox_file *f, u32 port, unsigned int width, u32 *value, bool write)
{
	long err;

	if (mutex_lock_killable(&f->lock))
		return -EINTR;
	err = write ? pci_config_out(f, port, width, *value) : pci_config_in(f, port, width, value);
	mutex_unlock(&f->lock);
	return err;
}

/* A read needs only the port from the record, one word in and one out, as /dev/port moves its byte. */
long ferrox_port_in(struct ferrox_file *f, struct ferrox_port_record __user *record, unsigned int width)
{
	u32 port, value;
	long err;

	if (get_user(port, &record->port))
		return -EFAULT;
	if (!port_range_valid(port, width))
		return -EINVAL;

	if (reaches_pci_config(port, width)) {
		err = pci_config_access(f, port, width, &value, false);
		if (err)
			return err;
	} else if (width == 1) {
		value = inb(port);
	} else if (width == 2) {
		value = inw(port);
	} else {
		value = inl(port);
	}
	return put_user(value, &record->value) ? -EFAULT : 0;
}

long ferrox_port_out(struct ferrox_file *f, struct ferrox_port_record __user *record, unsigned int width)
{
	struct ferrox_port_record r;

	if (copy_from_user(&r, record, sizeof(r)))
		return -EFAULT;
	if (!port_range_valid(r.port, width))
		return -EINVAL;
	/* Bits above the width mean the caller built the record wrongly: write nothing rather than a part. */
	if (width < 4 && r.value >> (8 * width))
		return -EINVAL;

	if (reaches_pci_config(r.port, width))
		return pci_config_access(f, r.port, width, &r.value, true);
	if (width == 1)
		outb(r.value, r.port);
	else if (width == 2)
		outw(r.value, r.port);
	else
		outl(r.value, r.port);
	return 0;
}
