/* SPDX-License-Identifier: GPL-2.0-only WITH Linux-syscall-note */
/*
 * The requests of /dev/ferrox and the records they carry, for the kernel module and for C programs.
 * Records hold fixed-width fields only, so i386 and x86_64 callers share one layout and the module
 * needs no translation for 32-bit processes.
 */
#ifndef FERROX_IOCTL_H
#define FERROX_IOCTL_H

#include <linux/ioctl.h>
#include <linux/types.h>

#define FERROX_DEVICE_NAME "ferrox"
#define FERROX_REQUEST_TYPE 'h'

/* Every request is read-and-write; the size field is part of the code and must match exactly. */
#define FERROX_REQUEST(number, size) _IOC(_IOC_READ | _IOC_WRITE, FERROX_REQUEST_TYPE, (number), (size))

#define FERROX_MAP FERROX_REQUEST(2, 16)
#define FERROX_UNMAP FERROX_REQUEST(3, 4)
#define FERROX_PORT_IN8 FERROX_REQUEST(4, 8)
#define FERROX_PORT_OUT8 FERROX_REQUEST(5, 8)
#define FERROX_PORT_IN16 FERROX_REQUEST(6, 8)
#define FERROX_PORT_OUT16 FERROX_REQUEST(7, 8)
#define FERROX_PORT_IN32 FERROX_REQUEST(8, 8)
#define FERROX_PORT_OUT32 FERROX_REQUEST(9, 8)
/* The size field says 4, yet a whole memory record (head and data) follows the address. */
#define FERROX_WINDOW_READ FERROX_REQUEST(14, 4)
#define FERROX_WINDOW_WRITE FERROX_REQUEST(15, 4)
#define FERROX_PCI_READ FERROX_REQUEST(16, 64)
#define FERROX_PCI_WRITE FERROX_REQUEST(17, 64)
#define FERROX_IRQ_UNMASK FERROX_REQUEST(18, 16)
#define FERROX_IRQ_MASK FERROX_REQUEST(19, 16)
/* The argument is the line number itself, not an address. */
#define FERROX_IRQ_COUNT FERROX_REQUEST(20, 0)

#define FERROX_TRANSFER_MAX 65536u  /* bytes of one window read or write */
#define FERROX_IRQ_LINES 16u        /* the PC's ISA interrupt lines 0..15 */
#define FERROX_PCI_HEADER_SIZE 64u  /* the predefined header, answered by a PCI read of this count */
#define FERROX_PCI_SPACE_SIZE 4096u /* with the extended space of PCI Express */

/* Port requests 4..9. */
struct ferrox_port_record {
	__u32 port;  /* 0..0xFFFF; a wide transfer covers port..port+width-1 */
	__u32 value; /* written value (no bits above the width), or the value read, zero-extended */
};

/*
 * Head of the memory record: the whole record of the map request, and the start of the record of
 * window reads and writes, whose data bytes follow it.
 */
struct ferrox_memory_head {
	__u32 phys_addr;   /* the window's first physical byte */
	__u32 offset;      /* transfer: first byte within the window */
	__u32 linear_addr; /* the window's handle: written by the map request, 0 when nothing was mapped */
	__u32 count;       /* map: window size in bytes; transfer: bytes to move, at most 65536 */
};

/* PCI requests 16 and 17. A header read (count 64) writes the 64 header bytes over the record. */
struct ferrox_pci_request {
	__u16 bus;
	__u16 devfn; /* device << 3 | function */
	__u16 reg;   /* configuration register, aligned to count */
	__u16 count; /* 1, 2, 4; 64 for the header */
	__u32 value; /* write: the value, no bits above the width */
	__u8 unused[52];
};

/* Interrupt requests 18 and 19. */
struct ferrox_irq_request {
	__s32 process_id; /* the calling process */
	__s32 signal;     /* a real-time signal */
	__u32 irq;        /* 0..15 */
	__u32 cookie;     /* unmask: echoed in si_errno of every signal; ignored by mask */
};

#endif
