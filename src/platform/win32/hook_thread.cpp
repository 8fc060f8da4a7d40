#include "platform/win32/hook_thread.h"

#include <wtsapi32.h>

#include <algorithm>

#include "platform/win32/clock.h"
#include "platform/win32/event_translation.h"

namespace vesk::win32 {

namespace {

// Hook procedures carry no context; each runs on the thread that installed it.
thread_local HookThread* t_self = nullptr;

constexpr UINT kApply = WM_APP + 1;
constexpr UINT_PTR kDesktopTimer = 1;
constexpr UINT kDesktopCheckMs = 250;
// A user-interface thread that stays away this long while input pours in
// ends the journal instead of the memory.
constexpr std::size_t kMaxQueued = 1'000'000;

bool IsControlKey(DWORD vk) { return vk == VK_CONTROL || vk == VK_LCONTROL || vk == VK_RCONTROL; }

using RegisterSessionFn = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterSessionFn = BOOL(WINAPI*)(HWND);

template <class Fn>
Fn SessionApiFunction(const char* name) {
  static HMODULE module = ::LoadLibraryA("wtsapi32.dll");
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

HookThread::HookThread(HWND wakeWindow, UINT wakeMessage)
    : wakeWindow_(wakeWindow), wakeMessage_(wakeMessage) {
  HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this, ready] {
    t_self = this;
    WNDCLASSA wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "VeskHookThread";
    ::RegisterClassA(&wc);  // fails harmlessly when a previous thread registered it
    // Hidden and top-level: session notifications are sent to it.
    window_ = ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ::SetEvent(ready);
    Run();
  });
  ::WaitForSingleObject(ready, INFINITE);
  ::CloseHandle(ready);
}

HookThread::~HookThread() {
  if (window_ != nullptr) ::PostMessageA(window_, WM_CLOSE, 0, 0);
  thread_.join();
}

void HookThread::Run() {
  ::MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  InstallHooks(false, false);
}

bool HookThread::Apply(const Wants& wants) {
  keyWatch_ = wants.keyWatch;
  record_ = wants.record;
  playback_ = wants.playback;
  noteWheel_ = wants.wheelNotes;
  if (!wants.wheelNotes) {
    std::lock_guard lock(mutex_);
    wheelNotes_.clear();
  }
  const bool keyboard = wants.keyWatch || wants.record || wants.playback;
  const bool mouse = wants.record || wants.playback || wants.wheelNotes;
  const WPARAM request = (keyboard ? 1u : 0u) | (mouse ? 2u : 0u);
  // The hook thread never waits for this one, so sending cannot deadlock.
  return window_ != nullptr && ::SendMessageA(window_, kApply, request, 0) != 0;
}

std::optional<HookThread::Item> HookThread::Pop() {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) return std::nullopt;
  Item item = queue_.front();
  queue_.pop_front();
  return item;
}

std::optional<int> HookThread::TakeWheelNote() {
  std::lock_guard lock(mutex_);
  if (wheelNotes_.empty()) return std::nullopt;
  const int delta = wheelNotes_.front();
  wheelNotes_.pop_front();
  return delta;
}

void HookThread::Push(const Item& item) {
  bool wake = false;
  bool overflow = false;
  {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= kMaxQueued) {
      overflow = true;
    } else {
      wake = queue_.empty();
      queue_.push_back(item);
    }
  }
  if (overflow && item.kind != Item::Kind::Cancel) {
    Cancel(CancelCause::HookTimeout);
    return;
  }
  if (wake) ::PostMessageA(wakeWindow_, wakeMessage_, 0, 0);
}

void HookThread::Cancel(CancelCause cause) {
  if (cancelPending_.exchange(true)) return;  // one cancellation at a time
  record_ = false;
  playback_ = false;
  Item item;
  item.kind = Item::Kind::Cancel;
  item.cause = cause;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    wake = queue_.empty();
    queue_.push_back(item);
  }
  if (wake) ::PostMessageA(wakeWindow_, wakeMessage_, 0, 0);
}

bool HookThread::InstallHooks(bool keyboard, bool mouse) {
  bool ok = true;
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  const auto want = [&](HHOOK& h, bool needed, int kind, HOOKPROC proc) {
    if (needed && h == nullptr) {
      h = ::SetWindowsHookExA(kind, proc, instance, 0);
      if (h == nullptr) ok = false;
    } else if (!needed && h != nullptr) {
      ::UnhookWindowsHookEx(h);  // fails harmlessly when the system removed it already
      h = nullptr;
    }
  };
  want(keyboard_, keyboard, WH_KEYBOARD_LL, &KeyProc);
  want(mouse_, mouse, WH_MOUSE_LL, &MouseProc);

  // While journals run, a desktop switch or a locked session takes input away.
  const bool watchDesktop = record_ || playback_ || noteWheel_;
  if (watchDesktop && desktopSwitch_ == nullptr) {
    desktopSwitch_ = ::SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH,
                                       nullptr, &DesktopSwitched, 0, 0, WINEVENT_OUTOFCONTEXT);
    if (const auto reg = SessionApiFunction<RegisterSessionFn>("WTSRegisterSessionNotification")) {
      sessionNotes_ = reg(window_, NOTIFY_FOR_THIS_SESSION) != FALSE;
    }
    ::SetTimer(window_, kDesktopTimer, kDesktopCheckMs, nullptr);
  } else if (!watchDesktop && desktopSwitch_ != nullptr) {
    ::UnhookWinEvent(desktopSwitch_);
    desktopSwitch_ = nullptr;
    if (const auto unreg =
            SessionApiFunction<UnregisterSessionFn>("WTSUnRegisterSessionNotification");
        unreg != nullptr && sessionNotes_) {
      unreg(window_);
    }
    sessionNotes_ = false;
    ::KillTimer(window_, kDesktopTimer);
  }
  return ok;
}

void HookThread::Answered(std::int64_t startUs) {
  const std::int64_t took = NowUs() - startUs;
  if (took > slowestUs_) slowestUs_ = took;
  const DWORD timeout = timeoutMs_;
  if (timeout == 0 || took <= static_cast<std::int64_t>(timeout) * 1000) return;
  // The system may have removed the hooks without telling us: install them
  // afresh, and end a journal that relied on them.
  const bool keyboard = keyboard_ != nullptr;
  const bool mouse = mouse_ != nullptr;
  for (HHOOK* h : {&keyboard_, &mouse_}) {
    if (*h != nullptr) ::UnhookWindowsHookEx(*h);
    *h = nullptr;
  }
  InstallHooks(keyboard, mouse);
  if (Journals()) Cancel(CancelCause::HookTimeout);
}

LRESULT CALLBACK HookThread::KeyProc(int code, WPARAM wParam, LPARAM lParam) {
  HookThread* self = t_self;
  if (self == nullptr || code != HC_ACTION || lParam == 0) {
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  return self->OnKey(code, wParam, lParam);
}

LRESULT CALLBACK HookThread::MouseProc(int code, WPARAM wParam, LPARAM lParam) {
  HookThread* self = t_self;
  if (self == nullptr || code != HC_ACTION || lParam == 0) {
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  return self->OnMouse(code, wParam, lParam);
}

LRESULT HookThread::OnKey(int code, WPARAM wParam, LPARAM lParam) {
  const std::int64_t start = NowUs();
  const auto& key = *reinterpret_cast<const ::KBDLLHOOKSTRUCT*>(lParam);
  const bool down = wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN;
  bool swallow = false;
  if (keyWatch_) {
    Item item;
    item.kind = Item::Kind::Key;
    item.message = wParam;
    item.key = {key.vkCode, key.scanCode, key.flags, key.time, key.dwExtraInfo};
    Push(item);
    // What the program's watch asks: Ctrl+Break is its own, always.
    swallow = down && key.vkCode == VK_CANCEL;
  }
  if (!swallow && !IsInjected(key)) {
    if (IsControlKey(key.vkCode)) ctrlDown_ = down;
    if (Journals()) {
      if (down && key.vkCode == VK_ESCAPE && ctrlDown_) {
        // Ctrl+Esc: the user takes input back, as system journals allow.
        // The system keeps that key for itself, so no window sees this Esc.
        Cancel(CancelCause::CtrlEsc);
        swallow = true;
      } else {
        if (record_) {
          Item item;
          item.kind = Item::Kind::Record;
          item.event = FromLowLevelKey(wParam, key, TickMs());
          Push(item);
        }
        // The user's own input waits while a journal plays.
        if (playback_) swallow = true;
      }
    }
  }
  Answered(start);
  return swallow ? 1 : ::CallNextHookEx(keyboard_, code, wParam, lParam);
}

LRESULT HookThread::OnMouse(int code, WPARAM wParam, LPARAM lParam) {
  const std::int64_t start = NowUs();
  const auto& mouse = *reinterpret_cast<const ::MSLLHOOKSTRUCT*>(lParam);
  bool swallow = false;
  if (!IsInjected(mouse)) {
    if (noteWheel_ && wParam == WM_MOUSEWHEEL) {
      std::lock_guard lock(mutex_);
      if (wheelNotes_.size() < 64) {
        wheelNotes_.push_back(static_cast<std::int16_t>(HIWORD(mouse.mouseData)));
      }
    }
    if (Journals()) {
      if (record_) {
        Item item;
        item.kind = Item::Kind::Record;
        item.event = FromLowLevelMouse(wParam, mouse, TickMs());
        Push(item);
      }
      if (playback_) swallow = true;
    }
  }
  Answered(start);
  return swallow ? 1 : ::CallNextHookEx(mouse_, code, wParam, lParam);
}

void CALLBACK HookThread::DesktopSwitched(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
  HookThread* self = t_self;
  if (self != nullptr && self->Journals()) self->Cancel(CancelCause::DesktopSwitch);
}

LRESULT CALLBACK HookThread::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HookThread* self = t_self;
  if (self != nullptr) {
    switch (message) {
      case kApply:
        return self->InstallHooks((wParam & 1u) != 0, (wParam & 2u) != 0) ? 1 : 0;
      case WM_WTSSESSION_CHANGE:
        if (const auto cause = CauseForSessionChange(wParam); cause && self->Journals()) {
          self->Cancel(*cause);
        }
        return 0;
      case WM_TIMER:
        if (wParam == kDesktopTimer && self->Journals() && !InputDesktopIsOurs()) {
          self->Cancel(CancelCause::DesktopSwitch);
        }
        return 0;
      case WM_CLOSE:
        self->record_ = self->playback_ = self->noteWheel_ = false;
        self->InstallHooks(false, false);
        ::DestroyWindow(hwnd);
        self->window_ = nullptr;
        ::PostQuitMessage(0);
        return 0;
      default:
        break;
    }
  }
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace vesk::win32
