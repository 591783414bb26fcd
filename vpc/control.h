// SPDX-License-Identifier: MIT
/* The virtual PC's control entries in C, for programs that find the virtual PC preloaded rather
 * than linked: they look the entries up with dlsym(RTLD_DEFAULT, "vpc_raise_irq") and so still run
 * on a real driver, where the entries are not there. The types below give the casts:
 *
 *   vpc_raise_irq_entry raise = (vpc_raise_irq_entry)dlsym(RTLD_DEFAULT, "vpc_raise_irq");
 */
#ifndef FERROX_VPC_CONTROL_H
#define FERROX_VPC_CONTROL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the machine (see ferrox::vpc::Machine::start): 0, or -1 with the reason, "FILE:LINE: key: what",
 * copied to message (at most size bytes, with its terminating NUL). */
int vpc_start(char* message, size_t size);
typedef int (*vpc_start_entry)(char* message, size_t size);

/* One interrupt on an IRQ line of the virtual PC. */
void vpc_raise_irq(unsigned line);
typedef void (*vpc_raise_irq_entry)(unsigned line);

/* The bytes the printer on the parallel port at `base` has received: up to `size` of them are
 * copied to `buffer`; the result is how many there are (0 without a printer). */
size_t vpc_printer_output(unsigned base, char* buffer, size_t size);
typedef size_t (*vpc_printer_output_entry)(unsigned base, char* buffer, size_t size);

/* Tells `watch` of each port instruction the virtual PC carries out for the program from now on
 * (a tracer in front of it watches this way): output 1 for OUT and OUTS, the port, the bytes per
 * element, the elements moved, the value of a single transfer, and for the string forms the
 * elements as they lie in the program's memory (NULL when the direction flag runs them downward).
 * It is called from the fault handler that carries out the instruction. */
typedef void (*vpc_port_watcher)(int output, unsigned port, unsigned width, unsigned count, unsigned value,
                                 const void* data);
void vpc_watch_port_instructions(vpc_port_watcher watch);
typedef void (*vpc_watch_port_instructions_entry)(vpc_port_watcher watch);

/* Tells `watch` of each signal the virtual PC hands to the program's handler itself, where the
 * kernel's path is not faithful (under qemu-user, or a runtime that holds signals back): the
 * signal, its si_code and si_errno, just before the handler is called. A tracer in front of the
 * virtual PC, whose own handler is not the one called then, watches this way. */
typedef void (*vpc_signal_watcher)(int signal, int code, int error);
void vpc_watch_signals(vpc_signal_watcher watch);
typedef void (*vpc_watch_signals_entry)(vpc_signal_watcher watch);

#ifdef __cplusplus
}
#endif

#endif
