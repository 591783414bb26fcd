// SPDX-License-Identifier: MIT
// The trace layer: it hands every call on to the next definition and writes what crossed to the
// driver as events of a recording (recording.h) into the pipe FERROX_TRACE_PIPE names: opens
// and closes of "/dev/ferrox", each request with its record before and after, iopl and ioperm,
// each signal 44 the program's handler receives, and, on the virtual PC, each port instruction it
// trapped. Records are read through the kernel (process_vm_readv), so a record the program cannot
// hand over gives the driver's EFAULT, as untraced, rather than a crash here.
#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/interpose/descriptor_table.h"
#include "ferrox/interpose/device_path.h"
#include "ferrox/interpose/layer_watch.h"
#include "ferrox/interpose/next_symbol.h"
#include "ferrox/recording/inherited_pipe.h"
#include "ferrox/recording/recording_writer.h"
#include "ferrox/trace/trace_layer.h"

namespace ferrox::trace::layer {
namespace {

using recording::EventHead;
using recording::Kind;

constexpr std::uint32_t OpenFile = 1;  // what the descriptor table keeps for a node's descriptor

// The bytes of a record, on the stack when small and mapped when a window transfer needs more, so
// that a request made from a signal handler allocates nothing.
class RecordBuffer {
 public:
  explicit RecordBuffer(std::size_t size) : size_(size) {
    if (size > sizeof small_) {
      void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      large_ = mapped == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(mapped);
      if (!large_) size_ = 0;
    }
  }
  ~RecordBuffer() {
    if (large_) munmap(large_, size_);
  }
  RecordBuffer(const RecordBuffer&) = delete;
  RecordBuffer& operator=(const RecordBuffer&) = delete;

  // Copies the program's record at `from`; an empty span when it cannot be read.
  std::span<const std::uint8_t> read(std::uintptr_t from) {
    std::uint8_t* bytes = large_ ? large_ : small_;
    iovec local{bytes, size_}, remote{reinterpret_cast<void*>(from), size_};
    if (size_ == 0 || process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(size_)) return {};
    return {bytes, size_};
  }

 private:
  std::uint8_t small_[128];
  std::uint8_t* large_ = nullptr;
  std::size_t size_;
};

class Layer {
 public:
  // The layer once the program has used the node or asked for I/O privilege; lock-free.
  static Layer* existing() { return existing_.load(std::memory_order_acquire); }
  static Layer& instance() {
    static Layer* layer = [] {
      auto* made = new Layer;  // never destroyed: calls may come during process exit
      existing_.store(made, std::memory_order_release);
      return made;
    }();
    return *layer;
  }

  interpose::DescriptorTable descriptors;
  recording::RecordingWriter writer;

  // The head of the next call's event; its sequence taken now, before the call is handed on, so
  // that calls made by a signal handler during it come after it.
  EventHead call(Kind kind, int fd = -1) {
    EventHead head{};
    head.kind = static_cast<std::uint16_t>(kind);
    head.sequence = calls_.fetch_add(1, std::memory_order_relaxed);
    head.process = getpid();
    head.image = image_;
    head.fd = fd;
    head.time = recording::monotonic_ns();
    return head;
  }
  EventHead signal() {
    EventHead head{};
    head.kind = static_cast<std::uint16_t>(Kind::Signal);
    head.sequence = calls_.load(std::memory_order_relaxed);
    head.process = getpid();
    head.image = image_;
    head.time = recording::monotonic_ns();
    return head;
  }

 private:
  Layer() {
    writer.attach(recording::inherited_pipe(recording::TracePipeVariable), recording::RecordingWriter::Framing::Frames);
    // A child counts its own calls, and its writer is free whichever thread of the parent was
    // writing an event when it forked.
    pthread_atfork(nullptr, nullptr, [] {
      instance().calls_ = 0;
      instance().writer.forked();
    });
  }

  static inline std::atomic<Layer*> existing_{nullptr};
  std::atomic<std::uint32_t> calls_{0};
  // Names this program image in its events: an image the process execs has its own, and counts
  // its calls from 0 again.
  const std::uint64_t image_ = recording::monotonic_ns();
};

// The result of a call, with errno as the call left it.
void finish(EventHead& head, int result, int error) {
  head.result = result;
  head.error = result == -1 ? error : 0;
}

// Port instructions the virtual PC trapped, as the machine reports them.
void on_port_instruction(int output, unsigned port, unsigned width, unsigned count, unsigned value, const void* data) {
  Layer& layer = Layer::instance();
  EventHead head = layer.call(output ? Kind::PortOut : Kind::PortIn);
  head.code = width;
  head.argument = port;
  head.value = value;
  head.extra = count;
  std::span<const std::uint8_t> bytes;
  if (data) bytes = {static_cast<const std::uint8_t*>(data), std::size_t{width} * count};
  layer.writer.write(head, output ? bytes : std::span<const std::uint8_t>{}, output ? std::span<const std::uint8_t>{} : bytes);
}

// Signal 44: the program's handler is called through one of the layer's, which writes the signal
// first. The program sees its own handler whenever it asks.
std::atomic<void (*)(int, siginfo_t*, void*)> program_handler{nullptr};
struct sigaction program_action {};

void write_signal(int signal, int code, int error) {
  if (Layer* layer = Layer::existing()) {
    EventHead head = layer->signal();
    head.code = static_cast<std::uint32_t>(signal);
    head.argument = static_cast<std::uint32_t>(code);
    head.value = static_cast<std::uint32_t>(error);
    layer->writer.write(head, {}, {});
  }
}

// The virtual PC below, when there is one, says which signal 44 is its own probe rather than one
// a driver sent.
std::atomic<vpc_probing_signals_entry> virtual_pc_probing{nullptr};

void on_interrupt_signal(int signal, siginfo_t* info, void* context) {
  auto probing = virtual_pc_probing.load(std::memory_order_acquire);
  if (!probing || !probing()) write_signal(signal, info->si_code, info->si_errno);
  if (auto handler = program_handler.load(std::memory_order_acquire)) handler(signal, info, context);
}

// A signal the virtual PC hands to the program's handler itself, past the layer's.
void on_delivered_signal(int signal, int code, int error) {
  if (signal == ferrox::InterruptSignal && program_handler.load(std::memory_order_acquire)) write_signal(signal, code, error);
}

// Below the layer may be the virtual PC, which then reports the port instructions it carries out,
// the signals it hands to the program's handler itself and its own probe signal.
void watch_virtual_pc() {
  static std::atomic<bool> asked{false};
  if (asked.exchange(true)) return;
  auto instructions = reinterpret_cast<vpc_watch_port_instructions_entry>(dlsym(RTLD_DEFAULT, "vpc_watch_port_instructions"));
  if (instructions) instructions(on_port_instruction);
  auto signals = reinterpret_cast<vpc_watch_signals_entry>(dlsym(RTLD_DEFAULT, "vpc_watch_signals"));
  if (signals) signals(on_delivered_signal);
  virtual_pc_probing.store(reinterpret_cast<vpc_probing_signals_entry>(dlsym(RTLD_DEFAULT, "vpc_probing_signals")),
                           std::memory_order_release);
}

int privilege_call(Kind kind, std::uint32_t argument, std::uint32_t value, std::uint32_t extra, int result) {
  int error = errno;
  Layer& layer = Layer::instance();
  EventHead head = layer.call(kind);
  head.argument = argument;
  head.value = value;
  head.extra = extra;
  finish(head, result, error);
  layer.writer.write(head, {}, {});
  if (result == 0) watch_virtual_pc();
  errno = error;
  return result;
}

int watched_sigaction(SigactionFunction real, const struct sigaction* action, struct sigaction* old) {
  struct sigaction previous = program_action, before {};
  bool wrapped = program_handler.load() != nullptr;
  int result;
  if (action && (action->sa_flags & SA_SIGINFO)) {
    struct sigaction installed = *action;
    installed.sa_sigaction = on_interrupt_signal;
    program_action = *action;
    program_handler.store(action->sa_sigaction, std::memory_order_release);  // before the first signal
    result = real(ferrox::InterruptSignal, &installed, &before);
    if (result == 0) watch_virtual_pc();
    if (result != 0) {
      program_action = previous;
      program_handler.store(wrapped ? previous.sa_sigaction : nullptr);
    }
  } else {
    result = real(ferrox::InterruptSignal, action, &before);
    if (result == 0 && action) program_handler.store(nullptr);
  }
  if (result == 0 && old) *old = wrapped ? previous : before;
  return result;
}

}  // namespace


int Route::open(const char* path, int flags, unsigned mode, int dirfd) {
  if (!interpose::is_device_path(path)) return interpose::next::openat(dirfd, path, flags, mode);
  Layer& layer = Layer::instance();
  EventHead head = layer.call(Kind::Open);
  int fd = interpose::next::openat(dirfd, path, flags, mode);
  int error = errno;
  if (fd >= 0 && fd < interpose::DescriptorTable::Limit) layer.descriptors.set(fd, OpenFile);
  head.fd = fd;
  head.code = static_cast<std::uint32_t>(flags);
  finish(head, fd, error);
  layer.writer.write(head, {}, {});
  errno = error;
  return fd;
}

int Route::close(int fd) {
  Layer* layer = Layer::existing();
  if (layer) layer->writer.forget(fd);
  if (!layer || !layer->descriptors.is_file(fd)) return interpose::next::close(fd);
  EventHead head = layer->call(Kind::Close, fd);
  layer->descriptors.set(fd, interpose::DescriptorTable::None);
  int result = interpose::next::close(fd);
  int error = errno;
  finish(head, result, error);
  layer->writer.write(head, {}, {});
  errno = error;
  return result;
}

int Route::ioctl(int fd, unsigned long request, void* argument) {
  Layer* layer = Layer::existing();
  if (!layer || !layer->descriptors.is_file(fd)) return interpose::next::ioctl(fd, request, argument);
  auto code = static_cast<std::uint32_t>(request);
  auto address = reinterpret_cast<std::uintptr_t>(argument);
  std::uint32_t count = 0;
  if (code == ferrox::Request::ReadWindow || code == ferrox::Request::WriteWindow) {
    RecordBuffer head_bytes(ferrox::MemRecHeadSize);
    std::span<const std::uint8_t> head = head_bytes.read(address);
    if (!head.empty()) std::memcpy(&count, head.data() + offsetof(ferrox::TMemRec, Count), sizeof count);
  }
  RecordBuffer sent(recording::sent_record_size(code, count));
  RecordBuffer returned(recording::returned_record_size(code, count));
  EventHead head = layer->call(Kind::Request, fd);
  head.code = code;
  if (ferrox::RecordSize(code, count) == 0) head.argument = static_cast<std::uint32_t>(address);
  std::span<const std::uint8_t> before = sent.read(address);
  int result = interpose::next::ioctl(fd, request, argument);
  int error = errno;
  finish(head, result, error);
  layer->writer.write(head, before, returned.read(address));
  errno = error;
  return result;
}

void Route::duplicated(int fd, int target) {
  Layer* layer = Layer::existing();
  if (!layer || fd == target || target < 0 || target >= interpose::DescriptorTable::Limit) return;
  layer->writer.forget(target);
  layer->descriptors.set(target, layer->descriptors.is_file(fd) ? OpenFile : interpose::DescriptorTable::None);
}

void Route::closed_from(unsigned first, unsigned last) {
  Layer* layer = Layer::existing();
  if (!layer) return;  // the pipe is not among the descriptors closed (kept_descriptor)
  if (first >= static_cast<unsigned>(interpose::DescriptorTable::Limit)) return;
  layer->descriptors.for_each_file(static_cast<int>(first), [&](int fd, std::uint32_t) {
    if (static_cast<unsigned>(fd) <= last) layer->descriptors.set(fd, interpose::DescriptorTable::None);
  });
}

// The pipe the events go to, which the tool handed down: a program that closes every descriptor
// it did not open itself is still traced, as it runs untraced.
int Route::kept_descriptor() { return Layer::instance().writer.descriptor(); }

int Route::iopl(int level) {
  int result = interpose::next::iopl(level);
  return privilege_call(Kind::Iopl, static_cast<std::uint32_t>(level), 0, 0, result);
}

int Route::ioperm(unsigned long from, unsigned long count, int turn_on) {
  int result = interpose::next::ioperm(from, count, turn_on);
  return privilege_call(Kind::Ioperm, static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(count),
                        static_cast<std::uint32_t>(turn_on), result);
}

int sigaction(SigactionFunction real, int signal, const struct sigaction* action, struct sigaction* old) {
  if (signal != ferrox::InterruptSignal) return real(signal, action, old);
  return watched_sigaction(real, action, old);
}

void record_to(int fd) { Layer::instance().writer.attach(fd); }

}  // namespace ferrox::trace::layer
