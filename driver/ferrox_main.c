// SPDX-License-Identifier: GPL-2.0-only
/*
 * ferrox: user-space access to PC hardware through the misc device /dev/ferrox.
 *
 * Opening needs CAP_SYS_RAWIO (and a kernel that is not locked down; port and memory requests ask
 * again each time); the node is created 0600.
 * Every request is an ioctl whose record the module reads and writes in place
 * (records: ferrox_ioctl.h):
 *
 *   2  MAP          map PhysAddr..+Count; LinearAddr := a handle, or 0 when the range cannot be mapped
 *                   (EPERM: a page of System RAM, or device memory a kernel driver holds, as /dev/mem
 *                   refuses)
 *   3  UNMAP        release the window whose handle the 32-bit argument holds
 *   4  PORT_IN8     Value := inb(Port) (0xCF8..0xCFF: the PCI configuration mechanism, per descriptor)
 *   5  PORT_OUT8    outb(Value, Port)
 *   6  PORT_IN16    Value := inw(Port)
 *   7  PORT_OUT16   outw(Value, Port)
 *   8  PORT_IN32    Value := inl(Port)
 *   9  PORT_OUT32   outl(Value, Port)
 *   14 WINDOW_READ  copy Count bytes of the window from Offset into the record's data
 *   15 WINDOW_WRITE copy Count bytes of the record's data into the window from Offset
 *                   (both declare 4 bytes; the 16-byte head and up to 65536 data bytes cross)
 *   16 PCI_READ     the register value as the result (all ones where no function is); Count 64: the
 *                   header over the record, result 1, or 0 when the function does not exist
 *   17 PCI_WRITE    write Count bytes of Value at Reg (ENODEV where no function is; EPERM for the
 *                   registers that steer a function a kernel driver is bound to)
 *   18 IRQ_UNMASK   hook the line; every interrupt sends Signal (34..64) to the process, to a thread
 *                   chosen as ferrox_irq.c says, si_errno = cookie, si_code = line
 *   19 IRQ_MASK     stop this descriptor's signals for the line; unhook it when nobody listens
 *   20 IRQ_COUNT    the line's interrupt count as the result (the argument is the line; declared
 *                   read-write with size 0, nothing crosses)
 *
 * A request that fails validation returns an errno and changes nothing. Windows and listeners belong
 * to the process that made them: another process that shares the descriptor (a forked child) gets
 * EPERM for them. Closing the descriptor (or the death of the last process holding it) releases
 * every window and line it holds.
 */
#include <linux/capability.h>
#include <linux/compat.h>
#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/mm.h>
#include <linux/module.h>
#include <linux/security.h>
#include <linux/slab.h>

#include "ferrox.h"

#ifndef CONFIG_X86
#error "ferrox drives the PC's I/O ports and ISA interrupt lines: it builds for x86 kernels only"
#endif

/* The requests that use the descriptor's windows or listeners. */
static long descriptor_request(struct ferrox_file *f, unsigned int code, void __user *record)
{
	switch (code) {
	case FERROX_MAP:
		return ferrox_map(f, record);
	case FERROX_UNMAP:
		return ferrox_unmap(f, record);
	case FERROX_WINDOW_READ:
		return ferrox_window_read(f, record);
	case FERROX_WINDOW_WRITE:
		return ferrox_window_write(f, record);
	case FERROX_IRQ_UNMASK:
		return ferrox_irq_unmask(f, record);
	case FERROX_IRQ_MASK:
		return ferrox_irq_mask(f, record);
	default:
		return -ENOTTY;
	}
}

static long ferrox_dispatch_locked(struct ferrox_file *f, unsigned int code, void __user *record)
{
	long result;

	if (mutex_lock_killable(&f->lock))
		return -EINTR;
	result = descriptor_request(f, code, record);
	mutex_unlock(&f->lock);
	return result;
}

/*
 * Port, PCI and count requests hold no state of the descriptor, so they run without its lock, as a
 * read of /dev/port does: only the configuration ports, which latch an address per descriptor,
 * take it (ferrox_ports.c).
 */
static long ferrox_dispatch(struct ferrox_file *f, unsigned int code, unsigned long arg)
{
	void __user *record = (void __user *)arg;

	switch (code) {
	case FERROX_PORT_IN8:
		return ferrox_port_in(f, record, 1);
	case FERROX_PORT_OUT8:
		return ferrox_port_out(f, record, 1);
	case FERROX_PORT_IN16:
		return ferrox_port_in(f, record, 2);
	case FERROX_PORT_OUT16:
		return ferrox_port_out(f, record, 2);
	case FERROX_PORT_IN32:
		return ferrox_port_in(f, record, 4);
	case FERROX_PORT_OUT32:
		return ferrox_port_out(f, record, 4);
	case FERROX_PCI_READ:
		return ferrox_pci_read(record);
	case FERROX_PCI_WRITE:
		return ferrox_pci_write(record);
	case FERROX_IRQ_COUNT:
		return ferrox_irq_count(arg);
	default:
		return ferrox_dispatch_locked(f, code, record);
	}
}

/*
 * The kernel may be locked down after the descriptor was opened: each request that reaches ports
 * or physical memory asks again (maps and PCI writes ask in their own paths, a refused map still
 * answering LinearAddr 0).
 */
static int request_locked_down(unsigned int code)
{
	switch (code) {
	case FERROX_PORT_IN8:
	case FERROX_PORT_OUT8:
	case FERROX_PORT_IN16:
	case FERROX_PORT_OUT16:
	case FERROX_PORT_IN32:
	case FERROX_PORT_OUT32:
		return security_locked_down(LOCKDOWN_IOPORT);
	case FERROX_WINDOW_READ:
	case FERROX_WINDOW_WRITE:
		return security_locked_down(LOCKDOWN_DEV_MEM);
	default:
		return 0;
	}
}

static long ferrox_ioctl(struct file *file, unsigned int code, unsigned long arg)
{
	struct ferrox_file *f = file->private_data;
	long result;

	result = request_locked_down(code);
	if (result)
		return result;
	return ferrox_dispatch(f, code, arg);
}

#ifdef CONFIG_COMPAT
/* Records have one layout on both ABIs: only the address needs widening, and request 20 carries none. */
static long ferrox_compat_ioctl(struct file *file, unsigned int code, unsigned long arg)
{
	if (code != FERROX_IRQ_COUNT)
		arg = (unsigned long)compat_ptr(arg);
	return ferrox_ioctl(file, code, arg);
}
#endif

static int ferrox_open(struct inode *inode, struct file *file)
{
	struct ferrox_file *f;
	int err;

	if (!capable(CAP_SYS_RAWIO))
		return -EPERM;
	/* The descriptor reaches ports and physical memory, which a locked-down kernel denies to root. */
	err = security_locked_down(LOCKDOWN_IOPORT);
	if (!err)
		err = security_locked_down(LOCKDOWN_DEV_MEM);
	if (err)
		return err;

	f = kzalloc(sizeof(*f), GFP_KERNEL_ACCOUNT);
	if (!f)
		return -ENOMEM;
	f->bounce = kvmalloc(FERROX_TRANSFER_MAX, GFP_KERNEL_ACCOUNT);
	if (!f->bounce) {
		kfree(f);
		return -ENOMEM;
	}
	mutex_init(&f->lock);
	idr_init(&f->windows);
	file->private_data = f;
	return nonseekable_open(inode, file);
}

static int ferrox_release(struct inode *inode, struct file *file)
{
	struct ferrox_file *f = file->private_data;

	ferrox_irq_release(f);
	ferrox_windows_release(f);
	idr_destroy(&f->windows);
	mutex_destroy(&f->lock);
	kvfree(f->bounce);
	kfree(f);
	return 0;
}

static const struct file_operations ferrox_fops = {
	.owner = THIS_MODULE,
	.open = ferrox_open,
	.release = ferrox_release,
	.unlocked_ioctl = ferrox_ioctl,
#ifdef CONFIG_COMPAT
	.compat_ioctl = ferrox_compat_ioctl,
#endif
};

static struct miscdevice ferrox_device = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = FERROX_DEVICE_NAME,
	.fops = &ferrox_fops,
	.mode = 0600,
};

static int __init ferrox_init(void)
{
	BUILD_BUG_ON(sizeof(struct ferrox_port_record) != 8);
	BUILD_BUG_ON(sizeof(struct ferrox_memory_head) != 16);
	BUILD_BUG_ON(sizeof(struct ferrox_pci_request) != 64);
	BUILD_BUG_ON(sizeof(struct ferrox_irq_request) != 16);

	ferrox_lines_init();
	return misc_register(&ferrox_device);
}

static void __exit ferrox_exit(void)
{
	/* No descriptor is open here (each holds a module reference), so no line or window is left. */
	misc_deregister(&ferrox_device);
}

module_init(ferrox_init);
module_exit(ferrox_exit);

MODULE_DESCRIPTION("User-space access to PC I/O ports, physical memory, PCI configuration and IRQs");
/* GPL-compatible: the pid helpers that interrupt delivery needs are exported to GPL modules only. */
MODULE_LICENSE("GPL");
MODULE_VERSION(FERROX_VERSION);
