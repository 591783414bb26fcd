// SPDX-License-Identifier: MIT
// TFerrox32 hardware interrupts: unmasking and masking lines in the driver, the driver's per-line
// count, and the handler of signal 44 that counts each interrupt in the component it names and
// calls that component's OnHwInterrupt.
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/component/InterruptRegistry.h"

namespace ferrox {

namespace detail {

// Runs in signal context, inside a read section that keeps the component alive: one increment,
// at most one call, and nothing of the component touched after the call, which may destroy it.
void DeliverInterrupt(TFerrox32& Component, Byte Line) {
  Component.FHandledCounter[Line].fetch_add(1, std::memory_order_relaxed);
  TInterruptHandler handler = Component.FOnHwInterrupt.Load();
  if (handler.Assigned()) handler(Line);
}

}  // namespace detail

namespace {

bool IsIrqLine(Byte Line) { return Line < IrqLineCount; }

// The driver puts the unmask request's cookie into si_errno and the line into si_code. Whatever
// names no living component or no line 0..15 did not come from the driver for us: ignore it.
void Deliver(std::uint32_t Cookie, std::uint32_t Line) {
  if (Line >= IrqLineCount) return;
  detail::RegistryReadSection section;
  if (TFerrox32* component = section.Find(Cookie)) detail::DeliverInterrupt(*component, static_cast<Byte>(Line));
}

// errno belongs to the code the signal interrupted, which may be between a failed call and its
// look at errno; the requests an OnHwInterrupt makes must not change it.
void InterruptSignalHandler(int, siginfo_t* Info, void*) {
  const int savedErrno = errno;
  Deliver(static_cast<std::uint32_t>(Info->si_errno), static_cast<std::uint32_t>(Info->si_code));
  errno = savedErrno;
}

// The handler is installed at the first unmask and stays for the life of the library: signals
// for a line just masked may still be queued, and the default action of signal 44 ends the
// process. When the library is unloaded, queued signals are discarded (setting SIG_IGN does
// that) and no handler points into unloaded code. The default action comes back only when no
// component lives: one that was never destroyed may keep its lines hooked in the driver until
// the process ends, and a late interrupt must not end it.
class SignalHandling {
 public:
  void Install() {
    struct sigaction action {};
    action.sa_sigaction = InterruptSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;  // no SA_RESTART: a blocking call interrupted fails with EINTR
    sigaction(InterruptSignal, &action, nullptr);
    FInstalled = true;
  }

  ~SignalHandling() {
    if (!FInstalled) return;
    Restore(SIG_IGN);
    if (detail::LivingComponents() == 0) Restore(SIG_DFL);
  }

 private:
  static void Restore(void (*disposition)(int)) {
    struct sigaction action {};
    action.sa_handler = disposition;
    sigemptyset(&action.sa_mask);
    sigaction(InterruptSignal, &action, nullptr);
  }

  bool FInstalled = false;
};

SignalHandling signalHandling;

}  // namespace

// Both words are read with sequential consistency: a reader whose count was even and unchanged
// around its reads met no change.
TInterruptHandler TFerrox32::SignalSafeHandler::Load() const {
  for (;;) {
    std::uint32_t before = FChanges.load();
    TInterruptHandler handler{FCode.load(), FData.load()};
    if (before % 2 == 0 && FChanges.load() == before) return handler;
  }
}

void TFerrox32::SignalSafeHandler::Store(TInterruptHandler Handler) {
  FChanges.fetch_add(1);
  FCode.store(Handler.Code);
  FData.store(Handler.Data);
  FChanges.fetch_add(1);
}

TInterruptHandler TFerrox32::OnHwInterrupt() const { return FOnHwInterrupt.Load(); }

// A handler on this thread would wait forever for the change it interrupted: signal 44 is
// blocked on this thread meanwhile.
void TFerrox32::SetOnHwInterrupt(TInterruptHandler Handler) {
  sigset_t interrupt, saved;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, InterruptSignal);
  pthread_sigmask(SIG_BLOCK, &interrupt, &saved);
  FOnHwInterrupt.Store(Handler);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

TFerrox32::InterruptCookie::InterruptCookie(TFerrox32* Owner) : FValue(detail::RegisterComponent(Owner)) {}

TFerrox32::InterruptCookie::~InterruptCookie() { detail::UnregisterComponent(FValue); }

// Lines above 15 have no entry: unmasking and masking them does nothing.
void TFerrox32::UnmaskInterrupt(Byte Line) {
  if (!IsIrqLine(Line)) return;
  if (FMasked[Line] && OnHwInterrupt().Assigned()) {
    FHandledCounter[Line].store(0, std::memory_order_relaxed);
    TIrqRequest request{getpid(), InterruptSignal, Line, FInterruptCookie.Value()};
    signalHandling.Install();  // in place before the driver is asked
    // A closed driver's descriptor may belong to another file by now: send nothing then.
    if (FDriverActive) ioctl(FDriverHandle, Request::IrqUnmask, &request);
  }
  FMasked[Line] = false;
}

void TFerrox32::MaskInterrupt(Byte Line) {
  if (!IsIrqLine(Line)) return;
  if (!FMasked[Line] && FDriverActive) {
    TIrqRequest request{getpid(), InterruptSignal, Line, 0};
    ioctl(FDriverHandle, Request::IrqMask, &request);
  }
  FMasked[Line] = true;
}

std::int32_t TFerrox32::InterruptCounter(Byte Line) {
  if (!FDriverActive) return 0;
  // The line travels by value, widened to the register the argument is passed in.
  return ioctl(FDriverHandle, Request::IrqCount, static_cast<unsigned long>(Line));
}

std::uint32_t TFerrox32::GetHandledCounter(Byte Line) const {
  return IsIrqLine(Line) ? FHandledCounter[Line].load(std::memory_order_relaxed) : 0;
}

bool TFerrox32::fGetMasked(Byte Line) const { return IsIrqLine(Line) ? FMasked[Line] : true; }

}  // namespace ferrox
