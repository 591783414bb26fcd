// SPDX-License-Identifier: GPL-2.0-only
/*
 * PCI requests 16 and 17 on domain 0, on the functions the kernel found, through the accessors it
 * gives user space (those behind sysfs config files): they hold a reference on the function, wait
 * while the function's configuration space is blocked (during a reset), wake a function that
 * runtime power management put into D3cold, and serialise with the kernel's own configuration
 * cycles. A write is refused while the kernel is locked down against PCI access.
 *
 * A function the kernel does not know answers as an absent one does on the bus: reads give all
 * ones, a header read gives 0, and a write fails with ENODEV rather than vanish unnoticed. Past the
 * space the function has (256 bytes, or 4096 where the kernel reaches the extended space of PCI
 * Express), reads give all ones and writes fail with EINVAL, as sysfs keeps to that space too.
 *
 * While a kernel driver is bound to a function, the registers that decide where the function
 * answers and whether it masters the bus (COMMAND, the BARs, the expansion ROM's address, and on a
 * bridge its bus numbers, windows and bridge control) are the driver's: a write to them is refused
 * with EPERM. Sysfs lets root write them and taints the kernel, which tells a reader of the log
 * afterwards; refusing keeps the driver's DMA and mappings where it put them.
 */
#include <linux/pci.h>
#include <linux/pm_runtime.h>
#include <linux/security.h>
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

/*
 * The function at the record's address with a reference held and its configuration space awake,
 * or NULL where the kernel found none. Ended with function_put.
 */
static struct pci_dev *function_get(unsigned int bus, unsigned int devfn)
{
	struct pci_dev *dev = pci_get_domain_bus_and_slot(0, bus, devfn);
	struct device *parent;

	if (!dev)
		return NULL;
	parent = dev->dev.parent;
	if (parent)
		pm_runtime_get_sync(parent);
	pm_runtime_get_noresume(&dev->dev);
	/* A function being suspended reaches D3cold only when that completes. */
	pm_runtime_barrier(&dev->dev);
	/* Only D3cold loses the configuration space; lighter sleep states still answer. */
	if (dev->current_state == PCI_D3cold)
		pm_runtime_resume(&dev->dev);
	return dev;
}

static void function_put(struct pci_dev *dev)
{
	struct device *parent = dev->dev.parent;

	pm_runtime_put(&dev->dev);
	if (parent)
		pm_runtime_put_sync(parent);
	pci_dev_put(dev);
}

static int read_register(struct pci_dev *dev, int reg, unsigned int width, u32 *value)
{
	u16 word;
	u8 byte;
	int err;

	switch (width) {
	case 1:
		err = pci_user_read_config_byte(dev, reg, &byte);
		*value = byte;
		break;
	case 2:
		err = pci_user_read_config_word(dev, reg, &word);
		*value = word;
		break;
	default:
		err = pci_user_read_config_dword(dev, reg, value);
		break;
	}
	return err;
}

static int write_register(struct pci_dev *dev, int reg, unsigned int width, u32 value)
{
	switch (width) {
	case 1:
		return pci_user_write_config_byte(dev, reg, value);
	case 2:
		return pci_user_write_config_word(dev, reg, value);
	default:
		return pci_user_write_config_dword(dev, reg, value);
	}
}

/* Registers of a bound function that its driver owns, as [first, last] byte ranges. */
struct register_range {
	u8 first, last;
};

static const struct register_range function_steering[] = {
	{ PCI_COMMAND, PCI_COMMAND + 1 },
	{ PCI_BASE_ADDRESS_0, PCI_BASE_ADDRESS_5 + 3 },
	{ PCI_ROM_ADDRESS, PCI_ROM_ADDRESS + 3 },
};

static const struct register_range bridge_steering[] = {
	{ PCI_COMMAND, PCI_COMMAND + 1 },
	{ PCI_BASE_ADDRESS_0, PCI_IO_LIMIT },               /* BARs, bus numbers, I/O window */
	{ PCI_MEMORY_BASE, PCI_IO_LIMIT_UPPER16 + 1 },      /* memory windows, I/O window's upper half */
	{ PCI_ROM_ADDRESS1, PCI_ROM_ADDRESS1 + 3 },
	{ PCI_BRIDGE_CONTROL, PCI_BRIDGE_CONTROL + 1 },     /* secondary bus reset among them */
};

static bool ranges_overlap(const struct register_range *ranges, size_t n, unsigned int reg, unsigned int width)
{
	size_t i;

	for (i = 0; i < n; i++)
		if (reg <= ranges[i].last && reg + width - 1 >= ranges[i].first)
			return true;
	return false;
}

static bool register_owned_by_driver(struct pci_dev *dev, unsigned int reg, unsigned int width)
{
	if (!READ_ONCE(dev->dev.driver))
		return false;
	if (dev->hdr_type == PCI_HEADER_TYPE_NORMAL)
		return ranges_overlap(function_steering, ARRAY_SIZE(function_steering), reg, width);
	return ranges_overlap(bridge_steering, ARRAY_SIZE(bridge_steering), reg, width);
}

/* Answers 1 with the header written over the record, or 0 (record untouched) when there is no function. */
static long read_header(const struct ferrox_pci_request *r, struct ferrox_pci_request __user *request)
{
	u32 header[FERROX_PCI_HEADER_SIZE / 4];
	struct pci_dev *dev = function_get(r->bus, r->devfn);
	unsigned int i;
	int err = 0;

	if (!dev)
		return 0;
	for (i = 0; i < ARRAY_SIZE(header) && !err; i++)
		err = read_register(dev, 4 * i, 4, &header[i]);
	function_put(dev);
	/* A function that stopped answering reads all ones; vendor 0xFFFF is reserved for exactly that. */
	if (err || (header[0] & 0xFFFF) == 0xFFFF)
		return 0;
	return copy_to_user(request, header, sizeof(header)) ? -EFAULT : 1;
}

u32 ferrox_pci_config_read(unsigned int bus, unsigned int devfn, unsigned int reg, unsigned int width)
{
	struct pci_dev *dev = function_get(bus, devfn);
	u32 value;

	if (!dev)
		return all_ones(width);
	if (reg + width > dev->cfg_size || read_register(dev, reg, width, &value))
		value = all_ones(width);
	function_put(dev);
	return value;
}

long ferrox_pci_config_write(unsigned int bus, unsigned int devfn, unsigned int reg, unsigned int width, u32 value)
{
	struct pci_dev *dev;
	int err;

	err = security_locked_down(LOCKDOWN_PCI_ACCESS);
	if (err)
		return err;
	dev = function_get(bus, devfn);
	if (!dev)
		return -ENODEV;
	if (reg + width > dev->cfg_size)
		err = -EINVAL;
	else if (register_owned_by_driver(dev, reg, width))
		err = -EPERM;
	else
		err = pcibios_err_to_errno(write_register(dev, reg, width, value));
	function_put(dev);
	return err;
}

/* The record's fields that a request reads; the header's space after them is only written. */
static long request_read(struct ferrox_pci_request *r, const struct ferrox_pci_request __user *request)
{
	return copy_from_user(r, request, offsetofend(struct ferrox_pci_request, value)) ? -EFAULT : 0;
}

/*
 * A register value travels as the result, zero-extended, so a 64-bit caller receives every 32-bit
 * value. A 32-bit caller's C library takes 0xFFFFF001..0xFFFFFFFF for an error number.
 */
long ferrox_pci_read(struct ferrox_pci_request __user *request)
{
	struct ferrox_pci_request r;

	if (request_read(&r, request))
		return -EFAULT;
	if (r.count == FERROX_PCI_HEADER_SIZE) {
		if (r.bus >= FERROX_PCI_BUSES || r.devfn >= FERROX_PCI_DEVFNS || r.reg != 0)
			return -EINVAL;
		return read_header(&r, request);
	}
	if (!register_access_valid(&r))
		return -EINVAL;
	return ferrox_pci_config_read(r.bus, r.devfn, r.reg, r.count);
}

long ferrox_pci_write(struct ferrox_pci_request __user *request)
{
	struct ferrox_pci_request r;

	if (request_read(&r, request))
		return -EFAULT;
	if (!register_access_valid(&r) || (r.value & ~all_ones(r.count)))
		return -EINVAL;
	return ferrox_pci_config_write(r.bus, r.devfn, r.reg, r.count, r.value);
}
