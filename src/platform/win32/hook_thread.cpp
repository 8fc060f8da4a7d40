// The low-level keyboard and mouse hooks, on a thread of their own.
#include "platform/win32/hook_thread.h"

#include <algorithm>

#include "platform/win32/clock.h"
#include "platform/win32/event_translation.h"

namespace vesk::win32 {

namespace {

// Hook procedures carry no context; each runs on the thread that installed it.
thread_local HookThread* t_self = nullptr;

constexpr UINT kApply = WM_APP + 1;
constexpr UINT kReinstall = HookThread::kReinstallMessage;
constexpr UINT kStall = WM_APP + 3;
// A user-interface thread that stays away this long while input pours in
// ends the journal instead of the memory.
constexpr std::size_t kMaxQueued = 1'000'000;

bool IsControlKey(DWORD vk) { return vk == VK_CONTROL || vk == VK_LCONTROL || vk == VK_RCONTROL; }

}  // namespace

HookThread::HookThread(HWND wakeWindow, UINT wakeMessage)
    : wakeWindow_(wakeWindow), wakeMessage_(wakeMessage) {
  HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this, ready] {
    t_self = this;
    // Windows times the whole round trip to our answer: the hooks must get
    // a core before ordinary work does. They do little, so they starve
    // nothing.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    WNDCLASSA wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "VeskHookThread";
    ::RegisterClassA(&wc);  // fails harmlessly when a previous thread registered it
    window_ = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    ::SetEvent(ready);
    Run();
  });
  ::WaitForSingleObject(ready, INFINITE);
  ::ResetEvent(ready);
  watchThread_ = std::thread([this, ready] { RunWatch(ready); });
  ::WaitForSingleObject(ready, INFINITE);
  ::CloseHandle(ready);
}

HookThread::~HookThread() {
  if (watchWindow_ != nullptr) ::PostMessageA(watchWindow_, WM_CLOSE, 0, 0);
  watchThread_.join();
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

void HookThread::Stall(DWORD milliseconds) {
  if (window_ != nullptr) ::PostMessageA(window_, kStall, milliseconds, 0);
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
  // Both hooks or none: the watch tells a dropped hook by input the system
  // saw and the hooks did not, and a missing mouse hook would look dropped
  // at every move.
  const bool keyboard = wants.keyWatch || wants.record || wants.playback || wants.wheelNotes;
  const bool mouse = keyboard;
  WatchDesktop(wants.record || wants.playback || wants.wheelNotes);
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

std::optional<int> HookThread::TakeWheelNote(UINT message) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(wheelNotes_.begin(), wheelNotes_.end(),
                               [message](const auto& note) { return note.first == message; });
  if (it == wheelNotes_.end()) return std::nullopt;
  const int value = it->second;
  wheelNotes_.erase(it);
  return value;
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

  const bool on = keyboard_ != nullptr || mouse_ != nullptr;
  // Input before the hooks came is none of the watch's business.
  if (on && !hooksOn_) lastCallTick_ = ::GetTickCount();
  hooksOn_ = on;
  return ok;
}

void HookThread::Answered(std::int64_t startUs) {
  const std::int64_t took = NowUs() - startUs;
  if (took > slowestUs_) slowestUs_ = took;
}

bool HookThread::Arrived(HHOOK hook, DWORD eventTime) {
  const DWORD now = ::GetTickCount();
  const DWORD timeout = timeoutMs_;
  if (dropLate_ && timeout != 0 && now - eventTime > timeout && now - eventTime < 0x80000000u) {
    // What Windows does: the hook is gone, nobody is told, and this call
    // never reaches the program. The handle stays, as it would.
    ::UnhookWindowsHookEx(hook);
    return true;
  }
  // A late call alone is no proof of a dropped hook, and putting hooks back
  // that were still there could lose what arrives meanwhile: the watch
  // decides, from input the hooks did not see.
  lastCallTick_ = now;
  return false;
}

void HookThread::Reinstall() {
  const DWORD from = lastCallTick_;
  const bool keyboard = keyboard_ != nullptr;
  const bool mouse = mouse_ != nullptr;
  for (HHOOK* h : {&keyboard_, &mouse_}) {
    if (*h != nullptr) ::UnhookWindowsHookEx(*h);  // fails harmlessly when already removed
    *h = nullptr;
  }
  InstallHooks(keyboard, mouse);
  lastCallTick_ = ::GetTickCount();
  reinstallPending_ = false;
  ++reinstalls_;
  Item item;
  item.kind = Item::Kind::Gap;
  item.gapFrom = from;
  item.gapTo = lastCallTick_;
  Push(item);
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
  if (Arrived(keyboard_, key.time)) return ::CallNextHookEx(nullptr, code, wParam, lParam);
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
  if (Arrived(mouse_, mouse.time)) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  bool swallow = false;
  if (!IsInjected(mouse)) {
    const bool noted = wParam == WM_MOUSEWHEEL || wParam == WM_MOUSEHWHEEL ||
                       wParam == WM_XBUTTONDOWN || wParam == WM_XBUTTONUP;
    if (noteWheel_ && noted) {
      std::lock_guard lock(mutex_);
      if (wheelNotes_.size() < 64) {
        const int value = wParam == WM_XBUTTONDOWN || wParam == WM_XBUTTONUP
                              ? HIWORD(mouse.mouseData)
                              : static_cast<std::int16_t>(HIWORD(mouse.mouseData));
        wheelNotes_.emplace_back(static_cast<UINT>(wParam), value);
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

LRESULT CALLBACK HookThread::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HookThread* self = t_self;
  if (self != nullptr) {
    switch (message) {
      case kApply:
        return self->InstallHooks((wParam & 1u) != 0, (wParam & 2u) != 0) ? 1 : 0;
      case kReinstall:
        if (self->hooksOn_) self->Reinstall();
        self->reinstallPending_ = false;
        return 0;
      case kStall:
        ::Sleep(static_cast<DWORD>(wParam));
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
