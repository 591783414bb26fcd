// SPDX-License-Identifier: GPL-2.0-only
/*
 * Window requests 2, 3, 14 and 15: ranges of physical memory named by a 32-bit handle of the
 * descriptor, through which user space reads and writes with copies. A window belongs to the
 * process that mapped it.
 *
 * Each page is judged as /dev/mem on a strict kernel judges it (drivers/char/mem.c with the x86
 * devmem_is_allowed), when the window is mapped and again at every transfer, since a driver may
 * claim the range in between:
 *  - a page that holds any System RAM is refused; in the first MiB it reads as zeros instead, so
 *    that a program may map the whole first MiB, and a write to it is refused (where /dev/mem
 *    drops the bytes and reports them written);
 *  - above the first MiB, a page that a kernel driver claimed exclusively is refused, and one it
 *    claimed at all where the kernel keeps user space off busy device memory
 *    (CONFIG_IO_STRICT_DEVMEM). The first MiB, where the firmware's tables and ROMs sit among
 *    claimed ranges, is exempt from the claims.
 * The kernel's iomem=relaxed, which a module cannot see, relaxes /dev/mem but not the driver.
 *
 * A transfer maps the pages it reaches for its own duration only, so that no uncached mapping
 * outlives it: a driver that claims the range later is not left to share it with a mapping of ours.
 */
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/mm.h>
#include <linux/slab.h>
#include <linux/uaccess.h>

#include "ferrox.h"

#define FERROX_WINDOW_SIZE_MAX (256u << 20) /* a bound on what one window may name */
#define FERROX_WINDOWS_MAX 64u              /* per descriptor */
#define FERROX_PHYS_LIMIT (1ull << 32)      /* windows are named by 32-bit physical addresses */
#define FERROX_CLAIMS_START_PFN 256ul       /* claimed ranges count from the first MiB on */

struct ferrox_window {
	u32 phys;          /* first byte, as the map request gave it */
	u32 size;          /* bytes, as the map request gave them */
	struct pid *owner; /* the process that mapped it */
};

/* What user space may do with one page of physical memory. */
enum page_access {
	PAGE_REFUSED,
	PAGE_DEVICE, /* read and written through an uncached mapping */
	PAGE_ZEROS,  /* RAM in the first MiB: reads as zeros, refuses writes */
};

/* A claimed range that keeps user space out. */
static int claim_refuses(struct resource *claim, void *unused)
{
	return (claim->flags & IORESOURCE_EXCLUSIVE) || IS_ENABLED(CONFIG_IO_STRICT_DEVMEM);
}

static enum page_access page_access(unsigned long pfn)
{
	u64 start = PFN_PHYS(pfn);

	if (region_intersects(start, PAGE_SIZE, IORESOURCE_SYSTEM_RAM, IORES_DESC_NONE) != REGION_DISJOINT)
		return pfn < FERROX_CLAIMS_START_PFN ? PAGE_ZEROS : PAGE_REFUSED;
	if (pfn >= FERROX_CLAIMS_START_PFN &&
	    walk_iomem_res_desc(IORES_DESC_NONE, IORESOURCE_MEM | IORESOURCE_BUSY, start, start + PAGE_SIZE - 1,
				NULL, claim_refuses) > 0)
		return PAGE_REFUSED;
	return PAGE_DEVICE;
}

/*
 * 0 when every page that the size bytes from start reach may be mapped (a 64-bit sum: no wrap on a
 * 32-bit kernel), and, for a write, written. Each page's verdict goes to access, when given.
 */
static long range_allowed(u64 start, u64 size, bool write, enum page_access *access)
{
	unsigned long pfn, first = PHYS_PFN(start), last = PHYS_PFN(start + size - 1);
	enum page_access verdict;

	for (pfn = first; pfn <= last; pfn++) {
		verdict = page_access(pfn);
		if (verdict == PAGE_REFUSED || (write && verdict == PAGE_ZEROS))
			return -EPERM;
		if (access)
			access[pfn - first] = verdict;
	}
	return 0;
}

/* Maps the range and stores it under a fresh handle; 0 is never a handle. */
static long window_open(struct ferrox_file *f, u32 phys, u32 size, u32 *handle)
{
	struct ferrox_window *w;
	long err;
	int id;

	if (size == 0 || size > FERROX_WINDOW_SIZE_MAX || (u64)phys + size > FERROX_PHYS_LIMIT)
		return -EINVAL;
	if (f->window_count >= FERROX_WINDOWS_MAX)
		return -ENOSPC;
	err = range_allowed(phys, size, false, NULL);
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

/* The pages one transfer reaches: 64 KiB from an offset within the first. */
#define FERROX_TRANSFER_PAGES (FERROX_TRANSFER_MAX / PAGE_SIZE + 1)

/*
 * The physical address of the record's range, when it lies inside a window of the descriptor that
 * the caller owns and may still be reached, with the verdict on each of its pages.
 */
static long transfer_start(struct ferrox_file *f, const struct ferrox_memory_head *h, bool write, u64 *start,
			   enum page_access *access)
{
	struct ferrox_window *w = idr_find(&f->windows, h->linear_addr);

	if (!w || w->phys != h->phys_addr)
		return -EINVAL;
	if (h->count > FERROX_TRANSFER_MAX || (u64)h->offset + h->count > w->size)
		return -EINVAL;
	if (!ferrox_owned_by_caller(w->owner))
		return -EPERM;
	*start = (u64)w->phys + h->offset;
	return h->count ? range_allowed(*start, h->count, write, access) : 0;
}

/*
 * Copies count bytes between the bounce buffer and physical memory from start, whose pages have the
 * verdicts given: each run of device pages through a mapping of its own, zeros for RAM.
 */
static long copy_physical(u8 *bounce, u64 start, u32 count, const enum page_access *access, bool write)
{
	u64 end = start + count, run_end;
	unsigned long first = PHYS_PFN(start), page;
	void __iomem *mapping;
	u32 bytes;

	while (start < end) {
		page = PHYS_PFN(start) - first;
		run_end = min(PFN_PHYS(first + page + 1), end);
		while (run_end < end && access[PHYS_PFN(run_end) - first] == access[page])
			run_end = min(run_end + PAGE_SIZE, end);
		bytes = run_end - start;
		if (access[page] == PAGE_ZEROS) {
			memset(bounce, 0, bytes);
		} else {
			mapping = ioremap(start, bytes);
			if (!mapping)
				return -ENOMEM;
			if (write)
				memcpy_toio(mapping, bounce, bytes);
			else
				memcpy_fromio(bounce, mapping, bytes);
			iounmap(mapping);
		}
		bounce += bytes;
		start = run_end;
	}
	return 0;
}

long ferrox_window_read(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	u8 __user *data = (u8 __user *)(record + 1);
	enum page_access access[FERROX_TRANSFER_PAGES];
	struct ferrox_memory_head h;
	u64 start;
	long err;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	err = transfer_start(f, &h, false, &start, access);
	if (!err)
		err = copy_physical(f->bounce, start, h.count, access, false);
	if (err)
		return err;
	return copy_to_user(data, f->bounce, h.count) ? -EFAULT : 0;
}

long ferrox_window_write(struct ferrox_file *f, struct ferrox_memory_head __user *record)
{
	const u8 __user *data = (const u8 __user *)(record + 1);
	enum page_access access[FERROX_TRANSFER_PAGES];
	struct ferrox_memory_head h;
	u64 start;
	long err;

	if (copy_from_user(&h, record, sizeof(h)))
		return -EFAULT;
	err = transfer_start(f, &h, true, &start, access);
	if (err)
		return err;
	/* All of the data first: a record that faults half way writes nothing to the window. */
	if (copy_from_user(f->bounce, data, h.count))
		return -EFAULT;
	return copy_physical(f->bounce, start, h.count, access, true);
}

void ferrox_windows_release(struct ferrox_file *f)
{
	struct ferrox_window *w;
	int id;

	idr_for_each_entry(&f->windows, w, id)
		window_free(w);
	f->window_count = 0;
}
