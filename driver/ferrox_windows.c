// SPDX-License-Identifier: GPL-2.0-only
/*
 * Window requests 2, 3, 14 and 15: ranges of physical memory named by a 32-bit handle of the
 * descriptor, through which user space reads and writes with copies. A window belongs to the
 * process that mapped it.
 *
 * Each page is judged as /dev/mem on a strict kernel judges it (drivers/char/mem.c with the x86
 * devmem_is_allowed), when the window is mapped and again at every transfer, since a driver may
 * claim the range in between:
 *  - a page that holds any System RAM is refused. In the first MiB /dev/mem lets such a page be
 *    mapped, reads zeros from it and drops what is written to it while reporting it written: the
 *    driver refuses it instead, so that no transfer answers bytes the memory does not hold;
 *  - above the first MiB, a page that a kernel driver claimed exclusively is refused, and one it
 *    claimed at all where the kernel keeps user space off busy device memory
 *    (CONFIG_IO_STRICT_DEVMEM). The first MiB, where the firmware's tables and ROMs sit among
 *    claimed ranges, is exempt from the claims.
 * The kernel's iomem=relaxed, which a module cannot see, relaxes /dev/mem but not the driver.
 *
 * A transfer maps the pages it reaches for its own duration only, so that no mapping of ours
 * outlives it: a driver that claims the range later finds no memory type reserved by us.
 */
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/mm.h>
#include <linux/security.h>
#include <linux/slab.h>
#include <linux/uaccess.h>

#include "ferrox.h"

#define FERROX_WINDOW_SIZE_MAX (256u << 20) /* a bound on what one window may name */
#define FERROX_WINDOWS_MAX 64u              /* per descriptor */
#define FERROX_PHYS_LIMIT (1ull << 32)      /* windows are named by 32-bit physical addresses */
#define FERROX_CLAIMS_START (1ull << 20)    /* claimed ranges count from the first MiB on */

struct ferrox_window {
	u32 phys;          /* first byte, as the map request gave it */
	u32 size;          /* bytes, as the map request gave them */
	struct pid *owner; /* the process that mapped it */
};

/* A claimed range that keeps user space out. */
static int claim_refuses(struct resource *claim, void *unused)
{
	return (claim->flags & IORESOURCE_EXCLUSIVE) || IS_ENABLED(CONFIG_IO_STRICT_DEVMEM);
}

/*
 * 0 when every page that the size bytes from start reach may be reached (64-bit sums: no wrap on a
 * 32-bit kernel). A page holds RAM, or lies in a claim, exactly when the whole pages around the
 * range do so somewhere, so the pages are judged together: one walk of the resources, not one a page.
 */
static long range_allowed(u64 start, u64 size)
{
	u64 first = start & PAGE_MASK, end = PAGE_ALIGN(start + size);

	if (region_intersects(first, end - first, IORESOURCE_SYSTEM_RAM, IORES_DESC_NONE) != REGION_DISJOINT)
		return -EPERM;
	first = max(first, FERROX_CLAIMS_START);
	if (first < end && walk_iomem_res_desc(IORES_DESC_NONE, IORESOURCE_MEM | IORESOURCE_BUSY, first, end - 1, NULL,
					       claim_refuses) > 0)
		return -EPERM;
	return 0;
}

/* Maps the range and stores it under a fresh handle; 0 is never a handle. */
static long window_open(struct ferrox_file *f, u32 phys, u32 size, u32 *handle)
{
	struct ferrox_window *w;
	long err;
	int id;

	if (f->window_count >= FERROX_WINDOWS_MAX)
		return -ENOSPC;
	if (size == 0 || size > FERROX_WINDOW_SIZE_MAX || (u64)phys + size > FERROX_PHYS_LIMIT)
		return -EINVAL;
	err = range_allowed(phys, size);
	if (err)
		return err;
	w = kzalloc(sizeof(*w), GFP_KERNEL_ACCOUNT);
	if (!w)
		return -ENOMEM;
	w->phys = phys;
	w->size = size;
	w->owner = get_pid(task_tgid(current));
	/* Cyclic handles: a stale handle does not name the next window at once. */
	id = idr_alloc_cyclic(&f->windows, w, 1, 0, GFP_KERNEL_ACCOUNT);
	if (id < 0) {
		put_pid(w->owner);
		kfree(w);
		return id;
	}
	f->window_count++;
	*handle = id;
	return 0;
}

static void window_free(struct ferrox_window *w)
{
	put_pid(w->owner);
	kfree(w);
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
	window_free(w);
	return 0;
}

long ferrox_map(struct ferrox_file *f, struct ferrox_memory_head __user *head)
{
	struct ferrox_memory_head h;
	u32 handle = 0;
	long err;

	if (copy_from_user(&h, head, sizeof(h)))
		return -EFAULT;
	err = security_locked_down(LOCKDOWN_DEV_MEM);
	if (!err)
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
 * The physical address of the record's range, when it lies inside a window of the descriptor that
 * the caller owns and may still be reached.
 */
static long transfer_start(struct ferrox_file *f, const struct ferrox_memory_head *h, u64 *start)
{
	struct ferrox_window *w = idr_find(&f->windows, h->linear_addr);

	if (!w || w->phys != h->phys_addr)
		return -EINVAL;
	if (h->count > FERROX_TRANSFER_MAX || (u64)h->offset + h->count > w->size)
		return -EINVAL;
	if (!ferrox_owned_by_caller(w->owner))
		return -EPERM;
	*start = (u64)w->phys + h->offset;
	return h->count ? range_allowed(*start, h->count) : 0;
}

/*
 * Physical memory from start, count bytes, mapped as /dev/mem maps it: asked for write-back, which
 * the kernel turns into the type the range already has (uncached where a driver mapped it so, or
 * where the firmware's memory type ranges make it device memory). An uncached request would
 * conflict with the kernel's own write-back mapping of its firmware tables, fail, and log the
 * failure each time.
 */
static void *map_physical(u64 start, u32 count)
{
	return memremap(start, count, MEMREMAP_WB);
}

/* A read goes from the mapping straight into the caller's record, one copy, as /dev/mem reads. */
long ferrox_window_read(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	u8 __user *data = (u8 __user *)(record + 1);
	struct ferrox_memory_head h;
	void *mapping;
	u64 start;
	long err;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	err = transfer_start(f, &h, &start);
	if (err || !h.count)
		return err;
	mapping = map_physical(start, h.count);
	if (!mapping)
		return -ENOMEM;
	err = copy_to_user(data, mapping, h.count) ? -EFAULT : 0;
	memunmap(mapping);
	return err;
}

long ferrox_window_write(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	const u8 __user *data = (const u8 __user *)(record + 1);
	struct ferrox_memory_head h;
	void *mapping;
	u64 start;
	long err;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	err = transfer_start(f, &h, &start);
	if (err)
		return err;
	/* All of the data first: a record that faults half way writes nothing to the window. */
	if (copy_from_user(f->bounce, data, h.count))
		return -EFAULT;
	if (!h.count)
		return 0;
	mapping = map_physical(start, h.count);
	if (!mapping)
		return -ENOMEM;
	memcpy(mapping, f->bounce, h.count);
	memunmap(mapping);
	return 0;
}

void ferrox_windows_release(struct ferrox_file *f)
{
	struct ferrox_window *w;
	int id;

	idr_for_each_entry(&f->windows, w, id)
		window_free(w);
	f->window_count = 0;
}
