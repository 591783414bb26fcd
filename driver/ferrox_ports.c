// SPDX-License-Identifier: GPL-2.0-only
/* Port requests 4..9: one port instruction of 8, 16 or 32 bits per request. */
#include <linux/io.h>
#include <linux/uaccess.h>

#include "ferrox.h"

#define FERROX_PORT_SPACE 0x10000u

/* A wide transfer covers width consecutive ports, all of which must exist. */
static bool port_range_valid(u32 port, unsigned int width)
{
	return port <= FERROX_PORT_SPACE - width;
}

long ferrox_port_in(struct ferrox_port_record __user *record, unsigned int width)
{
	struct ferrox_port_record r;
	u32 value;

	if (copy_from_user(&r, record, sizeof(r)))
		return -EFAULT;
	if (!port_range_valid(r.port, width))
		return -EINVAL;

	switch (width) {
	case 1:
		value = inb(r.port);
		break;
	case 2:
		value = inw(r.port);
		break;
	default:
		value = inl(r.port);
		break;
	}
	return put_user(value, &record->value) ? -EFAULT : 0;
}

long ferrox_port_out(struct ferrox_port_record __user *record, unsigned int width)
{
	struct ferrox_port_record r;

	if (copy_from_user(&r, record, sizeof(r)))
		return -EFAULT;
	if (!port_range_valid(r.port, width))
		return -EINVAL;
	/* Bits above the width mean the caller built the record wrongly: write nothing rather than a part. */
	if (width < 4 && r.value >> (8 * width))
		return -EINVAL;

	switch (width) {
	case 1:
		outb(r.value, r.port);
		break;
	case 2:
		outw(r.value, r.port);
		break;
	default:
		outl(r.value, r.port);
		break;
	}
	return 0;
}
