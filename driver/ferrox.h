/* SPDX-License-Identifier: GPL-2.0-only */
/* Shared state of the ferrox module: what one open descriptor holds, and the request handlers. */
#ifndef FERROX_H
#define FERROX_H

#include <linux/idr.h>
#include <linux/mutex.h>
#include <linux/pid.h>
#include <linux/sched/signal.h>
#include <linux/types.h>

#include "ferrox_ioctl.h"

struct ferrox_listener;

/*
 * One open descriptor of /dev/ferrox. A forked child inherits it, but the windows and listeners on it
 * stay with the process that made them: a request from another process that names one fails with
 * EPERM.
 */
struct ferrox_file {
	/* Protects every field below; held by the requests that use them. */
	struct mutex lock;
	struct idr windows;        /* handle -> struct ferrox_window */
	unsigned int window_count;
	u8 *bounce;                /* FERROX_TRANSFER_MAX bytes: a write's data, whole before it reaches the window */
	struct ferrox_listener *listeners[FERROX_IRQ_LINES]; /* this descriptor's registration per line */
	u32 pci_address;           /* the last value written to the configuration address port */
};

/* Whether the calling process is the one that made an object it owns (its thread group's pid). */
static inline bool ferrox_owned_by_caller(const struct pid *owner)
{
	return owner == task_tgid(current);
}

/* Port requests 4..9; width in bytes. */
long ferrox_port_in(struct ferrox_file *f, struct ferrox_port_record __user *record, unsigned int width);
long ferrox_port_out(struct ferrox_file *f, struct ferrox_port_record __user *record, unsigned int width);

/* Window requests 2, 3, 14, 15. */
long ferrox_map(struct ferrox_file *f, struct ferrox_memory_head __user *head);
long ferrox_unmap(struct ferrox_file *f, __u32 __user *handle);
long ferrox_window_read(struct ferrox_file *f, struct ferrox_memory_head __user *record);
long ferrox_window_write(struct ferrox_file *f, struct ferrox_memory_head __user *record);
void ferrox_windows_release(struct ferrox_file *f);

/* PCI requests 16, 17, and the configuration ports' accesses, on domain 0. */
long ferrox_pci_read(struct ferrox_pci_request __user *request);
long ferrox_pci_write(struct ferrox_pci_request __user *request);
u32 ferrox_pci_config_read(unsigned int bus, unsigned int devfn, unsigned int reg, unsigned int width);
long ferrox_pci_config_write(unsigned int bus, unsigned int devfn, unsigned int reg, unsigned int width, u32 value);

/* Interrupt requests 18..20. */
void ferrox_lines_init(void);
long ferrox_irq_unmask(struct ferrox_file *f, struct ferrox_irq_request __user *request);
long ferrox_irq_mask(struct ferrox_file *f, struct ferrox_irq_request __user *request);
long ferrox_irq_count(unsigned long line);
void ferrox_irq_release(struct ferrox_file *f);

#endif
