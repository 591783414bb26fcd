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

#include "ferrox/interpose/layer_watch.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A program that preloads the virtual PC replays the recording that VPC_REPLAY_VARIABLE names in
 * its environment, with the options ("timing,polling", or any of them) that VPC_REPLAY_LOOSE_VARIABLE
 * names, and writes the verdict of a replay that diverged into the pipe that
 * VPC_REPLAY_REPORT_VARIABLE names (recording/inherited_pipe.h), or else on standard error. */
#define VPC_REPLAY_VARIABLE "FERROX_VPC_REPLAY"
#define VPC_REPLAY_LOOSE_VARIABLE "FERROX_VPC_REPLAY_LOOSE"
#define VPC_REPLAY_REPORT_VARIABLE "FERROX_VPC_REPLAY_REPORT"

/* The process that holds the machine: the virtual PC names it in the environment when it starts,
 * and an image exec'd in a descendant of that process, while it lives, holds no machine of its own:
 * its opens of the node, requests, I/O privilege and port instructions are refused, as a forked
 * child's are, rather than served by a second machine that nobody else sees. A program started
 * without the variable runs on a machine of its own. */
#define VPC_MACHINE_PROCESS_VARIABLE "FERROX_VPC_MACHINE_PROCESS"

/* Starts the machine (see ferrox::vpc::Machine::start): 0, or -1 with the reason, "FILE:LINE: key: what",
 * copied to message (at most size bytes, with its terminating NUL). */
int vpc_start(char* message, size_t size);
typedef int (*vpc_start_entry)(char* message, size_t size);

/* Rebuilds the machine (see ferrox::vpc::Machine::reset): empties the log (which goes on recording,
 * or not, as before), clears every fault and ends a replay. The machine is the one described by
 * `machine_text`, a machine file's TOML (`machine_file` names it in messages and ROM images are
 * found beside it; NULL names it "machine"), or with `machine_text` NULL the one the process
 * started on: the environment's, or the built-in machine. 0, or -1 with the reason, as for
 * vpc_start; the machine is the default one then. */
int vpc_reset(const char* machine_text, const char* machine_file, char* message, size_t size);
typedef int (*vpc_reset_entry)(const char* machine_text, const char* machine_file, char* message, size_t size);

/* The log (see ferrox::vpc::RequestLog): vpc_log_record starts it afresh, keeping the newest
 * `capacity` entries (0 turns it off); vpc_log_entries copies up to `size` of the entries kept,
 * oldest first, and gives how many are kept; vpc_log_dropped counts those that made room. */
enum vpc_log_event {
  VPC_LOG_OPEN,     /* of the device node; fd is the result */
  VPC_LOG_CLOSE,    /* of a descriptor of the device node */
  VPC_LOG_REQUEST,  /* an ioctl on a descriptor of the device node */
  VPC_LOG_IOPL,     /* value = level */
  VPC_LOG_IOPERM,   /* port = first port, count = number of ports, value = turn_on */
  VPC_LOG_PORT_IN,  /* a trapped port input instruction */
  VPC_LOG_PORT_OUT  /* a trapped port output instruction */
};
#define VPC_LOG_RECORD_BYTES 80
struct vpc_log_entry {
  int event;               /* enum vpc_log_event */
  int fd;
  unsigned code;           /* of a request; its number is the low byte */
  unsigned port;           /* port instructions, ioperm */
  unsigned width;          /* port instructions: bytes per element */
  unsigned count;          /* port instructions: elements; ioperm: ports */
  unsigned value;          /* a single port transfer's value, the iopl level, ioperm's turn_on */
  long result;
  int error;               /* errno when result is -1 */
  unsigned sent_size;      /* of a request: the first bytes of its record, as sent and as left */
  unsigned returned_size;
  unsigned char sent[VPC_LOG_RECORD_BYTES];
  unsigned char returned[VPC_LOG_RECORD_BYTES];
};
void vpc_log_record(size_t capacity);
size_t vpc_log_entries(struct vpc_log_entry* entries, size_t size);
unsigned long long vpc_log_dropped(void);
typedef void (*vpc_log_record_entry)(size_t capacity);
typedef size_t (*vpc_log_entries_entry)(struct vpc_log_entry* entries, size_t size);
typedef unsigned long long (*vpc_log_dropped_entry)(void);

/* Faults (see ferrox::vpc::Faults), until the next reset: opens of the device node fail with
 * `error` (0 opens again); requests numbered `number` fail with `error`, once or always; map
 * requests are answered with linear address 0, once or always. */
void vpc_refuse_open(int error);
void vpc_fail_request(unsigned number, int error, int once);
void vpc_refuse_map(int once);
typedef void (*vpc_refuse_open_entry)(int error);
typedef void (*vpc_fail_request_entry)(unsigned number, int error, int once);
typedef void (*vpc_refuse_map_entry)(int once);

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
 * It is called from the fault handler that carries out the instruction. The watcher's types are
 * those of interpose/layer_watch.h. */
void vpc_watch_port_instructions(vpc_port_watcher watch);

/* Tells `watch` of each signal the virtual PC hands to the program's handler itself, where the
 * kernel's path is not faithful (under qemu-user, or a runtime that holds signals back): the
 * signal, its si_code and si_errno, just before the handler is called. A tracer in front of the
 * virtual PC, whose own handler is not the one called then, watches this way. */
void vpc_watch_signals(vpc_signal_watcher watch);

/* Nonzero while the calling thread takes the virtual PC's one-time probe of the kernel's signal
 * path (a signal 44 it sends itself, through the handler in front of it): a tracer leaves that
 * signal out. Async-signal-safe. */
int vpc_probing_signals(void);

#ifdef __cplusplus
}
#endif

#endif
