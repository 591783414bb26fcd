// SPDX-License-Identifier: MIT
/* How an interposer tells the layer in front of it of what it does without a call passing through
 * that layer: the port instructions it carries out for the program, the signals it hands to the
 * program's handler itself, and which signal 44 is its own. The virtual PC defines the entries (vpc/control.h); the trace
 * layer looks them up with dlsym and hands them its watchers. */
#ifndef FERROX_INTERPOSE_LAYER_WATCH_H
#define FERROX_INTERPOSE_LAYER_WATCH_H

#ifdef __cplusplus
extern "C" {
#endif

/* output 1 for OUT and OUTS, the port, the bytes per element, the elements moved, the value of a
 * single transfer, and for the string forms the elements as they lie in the program's memory. */
typedef void (*vpc_port_watcher)(int output, unsigned port, unsigned width, unsigned count, unsigned value,
                                 const void* data);
typedef void (*vpc_watch_port_instructions_entry)(vpc_port_watcher watch);

/* The signal, its si_code and si_errno. */
typedef void (*vpc_signal_watcher)(int signal, int code, int error);
typedef void (*vpc_watch_signals_entry)(vpc_signal_watcher watch);

/* Nonzero while the calling thread takes the virtual PC's own probe of the kernel's signal path: a
 * signal 44 sent to itself, through whatever handler is in front, that no driver sent. */
typedef int (*vpc_probing_signals_entry)(void);

#ifdef __cplusplus
}
#endif

#endif
