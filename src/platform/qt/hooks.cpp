// Hooks: the journal hooks on the input path and the playback timer,
// Ctrl+Break on the path's key grab, and input sent at once.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/qt/qt_backend_impl.h"

namespace vesk::qt {
namespace {

constexpr std::uint32_t kLlkhfExtended = 0x01;
constexpr std::uint32_t kBreakScan = 0x46;

}  // namespace

void QtBackend::Impl::OnRecorded(const EVENTMSG& e) {
  if (Hook* h = FirstHook(WH_JOURNALRECORD)) {
    EVENTMSG copy = e;
    h->proc(HC_ACTION, 0, reinterpret_cast<LParam>(&copy));
  }
}

void QtBackend::Impl::OnBreak(std::uint32_t time) {
  if (Hook* h = FirstHook(WH_KEYBOARD_LL)) {
    KBDLLHOOKSTRUCT k{VK_CANCEL, kBreakScan, kLlkhfExtended, time, 0};
    h->proc(HC_ACTION, WM_KEYDOWN, reinterpret_cast<LParam>(&k));
  }
}

void QtBackend::Impl::OnLost(const std::string& line) {
  const bool record = hooks.Drop(WH_JOURNALRECORD);
  const bool removed = hooks.Drop(WH_JOURNALPLAYBACK) || record;
  KindRemoved(WH_JOURNALPLAYBACK);
  if (removed) {
    std::fprintf(stderr, "vesk: %s\n", line.c_str());
    cancelReason = line;
    self->PostMessage(0, WM_CANCELJOURNAL, 0, 0);
  }
  // The grab went with a lost control connection: take it again.
  if (FirstHook(WH_KEYBOARD_LL) != nullptr) input.GrabBreak();
}

void QtBackend::Impl::KindRemoved(int kind) {
  if (hooks.AnyAlive(kind)) return;
  if (kind == WH_JOURNALRECORD) input.StopCapture();
  if (kind == WH_JOURNALPLAYBACK && playback.Active()) {
    playback.Stop();
    LogModel::HoldFlushes(false);
  }
  if (kind == WH_KEYBOARD_LL) input.UngrabBreak();
}

// ---------------------------------------------------------------- hooks

HookHandle QtBackend::SetWindowsHookEx(int kind, HookProc proc) {
  if (proc == nullptr) return 0;
  switch (kind) {
    case WH_JOURNALRECORD:
      if (!d_->input.StartCapture()) return 0;
      break;
    case WH_JOURNALPLAYBACK:
      if (!d_->injector->CanInject()) return 0;
      break;
    case WH_KEYBOARD_LL:
      d_->input.GrabBreak();  // without it the hook stays, only never called
      break;
    case WH_GETMESSAGE:
      break;
    default:
      return 0;
  }
  const HookHandle handle = d_->hooks.Install(kind, proc);
  if (kind == WH_JOURNALPLAYBACK) d_->BeginPlayback();
  return handle;
}

void QtBackend::Impl::BeginPlayback() {
  const auto start = [this] {
    if (FirstHook(WH_JOURNALPLAYBACK) == nullptr || playback.Active()) return;
    LogModel::HoldFlushes(true);
    playback.Start();
  };
  // A locked screen takes input like any other window: a scheduled run
  // must not type into its password field.
  if (screenLock.Locked()) {
    OnScreenLocked(true);
    return;
  }
  if (injector == &input.Replay()) {
    input.PrepareReplay(start);  // ready or lost follows, possibly at once
  } else {
    start();
  }
}

bool QtBackend::UnhookWindowsHookEx(HookHandle hook) {
  return d_->hooks.Remove(hook);  // the last of a kind: KindRemoved
}

LResult QtBackend::CallNextHookEx(HookHandle hook, int code, WParam wParam, LParam lParam) {
  return d_->hooks.CallNext(hook, code, wParam, lParam);
}

std::string QtBackend::TakeCancelReason() { return std::exchange(d_->cancelReason, {}); }

std::vector<std::string> QtBackend::StartupNotes() { return d_->input.StartupNotes(); }

// Where the program was started from a terminal or a session that keeps
// its output, the line is found there too.
void QtBackend::Notice(const std::string& line) {
  std::fprintf(stderr, "vesk: %s\n", line.c_str());
}

std::string QtBackend::InputPathNote(bool playback) { return d_->input.InputPathNote(playback); }

// ---------------------------------------------------------------- input at once

void QtBackend::Impl::UseInjector(Injector* replacement) {
  injector = replacement != nullptr ? replacement : &input.Replay();
  playback.SetInjector(injector);
}

std::uint32_t QtBackend::SendInput(const std::vector<EVENTMSG>& events) {
  if (events.empty() || !d_->injector->CanInject()) return 0;
  return d_->injector->SendNow(events.data(), events.size());
}

std::uint64_t QtBackend::GetMicroseconds() { return MonotonicNs() / 1000u; }

}  // namespace vesk::qt
