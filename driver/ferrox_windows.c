// SPDX-License-Identifier: GPL-2.0 OR MIT
/*
 * Window requests 2, 3, 14 and 15: ranges of physical memory mapped into the kernel and named by a
 * 32-bit handle of the descriptor, through which user space reads and writes with copies.
 *
 * Only ranges without System RAM can be mapped: device memory, firmware areas and the reserved
 * page of the BIOS data area. Memory the kernel hands out to itself and to processes stays out of
 * reach, as it does for /dev/mem on a kernel with strict /dev/mem.
 */
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/mm.h>
#include <linux/slab.h>
#include <linux/uaccess.h>

#include "ferrox.h"

#define FERROX_WINDOW_SIZE_MAX (256u << 20) /* bounds the kernel address space one window takes */
#define FERROX_WINDOWS_MAX 64u              /* per descriptor */
#define FERROX_PHYS_LIMIT (1ull << 32)      /* windows are named by 32-bit physical addresses */

struct ferrox_window {
	u32 phys;            /* first byte, as the map request gave it */
	u32 size;            /* bytes, as the map request gave them */
	void __iomem *pages; /* mapping of the whole pages that hold the range */
	void __iomem *bytes; /* the range's first byte within pages */
};

static long window_map(u32 phys, u32 size, struct ferrox_window **out)
{
	resource_size_t first_page = phys & PAGE_MASK;
	resource_size_t end = (resource_size_t)phys + size;
	struct ferrox_window *w;

	if (size == 0 || size > FERROX_WINDOW_SIZE_MAX || end > FERROX_PHYS_LIMIT)
		return -EINVAL;
	if (region_intersects(phys, size, IORESOURCE_SYSTEM_RAM, IORES_DESC_NONE) != REGION_DISJOINT)
		return -EPERM;

	w = kzalloc(sizeof(*w), GFP_KERNEL);
	if (!w)
		return -ENOMEM;
	w->pages = ioremap(first_page, PAGE_ALIGN(end) - first_page);
	if (!w->pages) {
		kfree(w);
		return -ENOMEM;
	}
	w->phys = phys;
	w->size = size;
	w->bytes = w->pages + (phys - first_page);
	*out = w;
	return 0;
}

static void window_unmap(struct ferrox_window *w)
{
	iounmap(w->pages);
	kfree(w);
}

/* Maps the range and stores it under a fresh handle; 0 is never a handle. */
static long window_open(struct ferrox_file *f, u32 phys, u32 size, u32 *handle)
{
	struct ferrox_window *w;
	long err;
	int id;

	if (f->window_count >= FERROX_WINDOWS_MAX)
		return -ENOSPC;
	err = window_map(phys, size, &w);
	if (err)
		return err;
	/* Cyclic handles: a stale handle does not name the next window at once. */
	id = idr_alloc_cyclic(&f->windows, w, 1, 0, GFP_KERNEL);
	if (id < 0) {
		window_unmap(w);
		return id;
	}
	f->window_count++;
	*handle = id;
	return 0;
}

static long window_close(struct ferrox_file *f, u32 handle)
{
	struct ferrox_window *w = idr_remove(&f->windows, handle);

	if (!w)
		return -EINVAL;
	f->window_count--;
	window_unmap(w);
	return 0;
}

long ferrox_map(struct ferrox_file *f, struct ferrox_memory_head __user *head)
{
	struct ferrox_memory_head h;
	u32 handle = 0;
	long err;

	if (copy_from_user(&h, head, sizeof(h)))
		return -EFAULT;
	err = window_open(f, h.phys_addr, h.count, &handle);
	/* A failed map still answers 0, so a caller that reads only LinearAddr is not misled. */
	if (put_user(handle, &head->linear_addr)) {
		if (!err)
			window_close(f, handle);
		return -EFAULT;
	}
	return err;
}

long ferrox_unmap(struct ferrox_file *f, __u32 __user *handle)
{
	u32 h;

	if (get_user(h, handle))
		return -EFAULT;
	return window_close(f, h);
}

/* The window named by the record, when the record's range lies inside it. */
static struct ferrox_window *transfer_window(struct ferrox_file *f, const struct ferrox_memory_head *h)
{
	struct ferrox_window *w = idr_find(&f->windows, h->linear_addr);

	if (!w || w->phys != h->phys_addr)
		return NULL;
	if (h->count > FERROX_TRANSFER_MAX || (u64)h->offset + h->count > w->size)
		return NULL;
	return w;
}

long ferrox_window_read(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	u8 __user *data = (u8 __user *)(record + 1);
	struct ferrox_memory_head h;
	struct ferrox_window *w;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	w = transfer_window(f, &h);
	if (!w)
		return -EINVAL;
	memcpy_fromio(f->bounce, w->bytes + h.offset, h.count);
	return copy_to_user(data, f->bounce, h.count) ? -EFAULT : 0;
}

long ferrox_window_write(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	const u8 __user *data = (const u8 __user *)(record + 1);
	struct ferrox_memory_head h;
	struct ferrox_window *w;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	w = transfer_window(f, &h);
	if (!w)
		return -EINVAL;
	/* All of the data first: a record that faults half way writes nothing to the window. */
	if (copy_from_user(f->bounce, data, h.count))
		return -EFAULT;
	memcpy_toio(w->bytes + h.offset, f->bounce, h.count);
	return 0;
}

void ferrox_windows_release(struct ferrox_file *f)
{
	struct ferrox_window *w;
	int id;

	idr_for_each_entry(&f->windows, w, id)
		window_unmap(w);
	f->window_count = 0;
}
