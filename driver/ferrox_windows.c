// SPDX-License-Identifier: GPL-2.0-only
/*
 * Window requests 2, 3, 14 and 15: ranges of physical memory mapped into the kernel and named by a
 * 32-bit handle of the descriptor, through which user space reads and writes with copies. A window
 * belongs to the process that mapped it.
 *
 * Only memory that /dev/mem on a strict kernel would hand out is reachable, checked where /dev/mem
 * checks it: when the window is mapped and again at every transfer, since a driver may claim the
 * range in between. That is never System RAM, and above the first MiB never a range that a kernel
 * driver claimed exclusively, nor one it claimed at all where the kernel keeps user space off busy
 * device memory (CONFIG_IO_STRICT_DEVMEM). The first MiB, where the firmware's tables and ROMs sit
 * among claimed ranges, is exempt from the claims, as it is for /dev/mem.
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
#define FERROX_CLAIMS_START (1ull << 20)    /* claimed ranges count from the first MiB on */

struct ferrox_window {
	u32 phys;            /* first byte, as the map request gave it */
	u32 size;            /* bytes, as the map request gave them */
	struct pid *owner;   /* the process that mapped it */
	void __iomem *pages; /* mapping of the whole pages that hold the range */
	void __iomem *bytes; /* the range's first byte within pages */
};

/* A claimed range that keeps user space out. */
static int claim_refuses(struct resource *claim, void *unused)
{
	return (claim->flags & IORESOURCE_EXCLUSIVE) || IS_ENABLED(CONFIG_IO_STRICT_DEVMEM);
}

/* 0 when the size bytes from start (a 64-bit sum: no wrap on a 32-bit kernel) may be reached. */
static long range_allowed(u64 start, u64 size)
{
	u64 end = start + size;

	if (region_intersects(start, size, IORESOURCE_SYSTEM_RAM, IORES_DESC_NONE) != REGION_DISJOINT)
		return -EPERM;
	start = max(start, FERROX_CLAIMS_START);
	if (start < end && walk_iomem_res_desc(IORES_DESC_NONE, IORESOURCE_MEM | IORESOURCE_BUSY, start,
					       end - 1, NULL, claim_refuses) > 0)
		return -EPERM;
	return 0;
}

static long window_map(u32 phys, u32 size, struct ferrox_window **out)
{
	u64 first_page = phys & PAGE_MASK;
	u64 end = (u64)phys + size;
	struct ferrox_window *w;
	long err;

	if (size == 0 || size > FERROX_WINDOW_SIZE_MAX || end > FERROX_PHYS_LIMIT)
		return -EINVAL;
	err = range_allowed(phys, size);
	if (err)
		return err;

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
	w->owner = get_pid(task_tgid(current));
	w->bytes = w->pages + (phys - first_page);
	*out = w;
	return 0;
}

static void window_unmap(struct ferrox_window *w)
{
	iounmap(w->pages);
	put_pid(w->owner);
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
	struct ferrox_window *w = idr_find(&f->windows, handle);

	if (!w)
		return -EINVAL;
	if (!ferrox_owned_by_caller(w->owner))
		return -EPERM;
	idr_remove(&f->windows, handle);
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

/*
 * The window named by the record, when the record's range lies inside it, the caller owns it and
 * the range may still be reached.
 */
static long transfer_window(struct ferrox_file *f, const struct ferrox_memory_head *h, struct ferrox_window **out)
{
	struct ferrox_window *w = idr_find(&f->windows, h->linear_addr);

	if (!w || w->phys != h->phys_addr)
		return -EINVAL;
	if (h->count > FERROX_TRANSFER_MAX || (u64)h->offset + h->count > w->size)
		return -EINVAL;
	if (!ferrox_owned_by_caller(w->owner))
		return -EPERM;
	*out = w;
	return h->count ? range_allowed((u64)w->phys + h->offset, h->count) : 0;
}

long ferrox_window_read(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	u8 __user *data = (u8 __user *)(record + 1);
	struct ferrox_memory_head h;
	struct ferrox_window *w;
	long err;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	err = transfer_window(f, &h, &w);
	if (err)
		return err;
	memcpy_fromio(f->bounce, w->bytes + h.offset, h.count);
	return copy_to_user(data, f->bounce, h.count) ? -EFAULT : 0;
}

long ferrox_window_write(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	const u8 __user *data = (const u8 __user *)(record + 1);
	struct ferrox_memory_head h;
	struct ferrox_window *w;
	long err;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	err = transfer_window(f, &h, &w);
	if (err)
		return err;
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
