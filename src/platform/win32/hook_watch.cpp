// The hook thread's watch: puts back low-level hooks that the system
// dropped, and takes journals away when the desktop or the session goes.
#include "platform/win32/hook_thread.h"

#include <wtsapi32.h>

namespace vesk::win32 {

namespace {

thread_local HookThread* t_watched = nullptr;

constexpr UINT kWatchDesktop = WM_APP + 11;
constexpr UINT_PTR kDesktopTimer = 1;
constexpr UINT_PTR kHookTimer = 2;
constexpr UINT kDesktopCheckMs = 250;
constexpr UINT kHookCheckMs = 200;
// Input the hooks have not seen this long after it happened counts as
// missed: the hooks are gone. Well below a second, well above a busy
// hook thread's ordinary delay.
constexpr DWORD kMissedAfterMs = 400;
// The system's input clock and the hooks' may differ by a tick or two.
constexpr DWORD kClockSlackMs = 40;

using RegisterSessionFn = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterSessionFn = BOOL(WINAPI*)(HWND);

template <class Fn>
Fn Wts(const char* name) {
  static HMODULE module = ::LoadLibraryA("wtsapi32.dll");
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

void HookThread::RunWatch(HANDLE ready) {
  t_watched = this;
  WNDCLASSA wc{};
  wc.lpfnWndProc = &WatchProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "VeskHookWatch";
  ::RegisterClassA(&wc);  // fails harmlessly when a previous thread registered it
  // Hidden and top-level: session notifications are sent to it.
  watchWindow_ = ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   wc.hInstance, nullptr);
  if (watchWindow_ != nullptr) ::SetTimer(watchWindow_, kHookTimer, kHookCheckMs, nullptr);
  ::SetEvent(ready);
  ::MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void HookThread::WatchDesktop(bool on) {
  if (watchDesktop_.exchange(on) != on && watchWindow_ != nullptr) {
    ::PostMessageA(watchWindow_, kWatchDesktop, 0, 0);
  }
}

void HookThread::CheckHooksAlive() {
  if (!hooksOn_ || reinstallPending_) return;
  LASTINPUTINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetLastInputInfo(&info)) return;
  const DWORD now = ::GetTickCount();
  const DWORD seen = lastCallTick_;
  const auto after = [](DWORD a, DWORD b) { return static_cast<LONG>(a - b) > 0; };
  // Input the system saw after the hooks' last call, and long enough ago
  // that the hooks would have been called for it.
  // Input on another desktop (the lock screen, an elevation prompt) never
  // reaches our hooks: that is no dropped hook.
  if (after(info.dwTime, seen + kClockSlackMs) && after(now, info.dwTime + kMissedAfterMs) &&
      InputDesktopIsOurs()) {
    if (!reinstallPending_.exchange(true)) ::PostMessageA(window_, kReinstallMessage, 0, 0);
  }
}

void CALLBACK HookThread::DesktopSwitched(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
  HookThread* self = t_watched;
  if (self != nullptr && self->Journals()) self->Cancel(CancelCause::DesktopSwitch);
}

LRESULT CALLBACK HookThread::WatchProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HookThread* self = t_watched;
  if (self == nullptr) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  switch (message) {
    case kWatchDesktop: {
      // While journals run, a desktop switch or a locked session takes input away.
      const bool on = self->watchDesktop_;
      if (on && self->desktopSwitch_ == nullptr) {
        self->desktopSwitch_ =
            ::SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, nullptr,
                              &DesktopSwitched, 0, 0, WINEVENT_OUTOFCONTEXT);
        if (const auto reg = Wts<RegisterSessionFn>("WTSRegisterSessionNotification")) {
          self->sessionNotes_ = reg(hwnd, NOTIFY_FOR_THIS_SESSION) != FALSE;
        }
        ::SetTimer(hwnd, kDesktopTimer, kDesktopCheckMs, nullptr);
      } else if (!on && self->desktopSwitch_ != nullptr) {
        ::UnhookWinEvent(self->desktopSwitch_);
        self->desktopSwitch_ = nullptr;
        if (const auto unreg = Wts<UnregisterSessionFn>("WTSUnRegisterSessionNotification");
            unreg != nullptr && self->sessionNotes_) {
          unreg(hwnd);
        }
        self->sessionNotes_ = false;
        ::KillTimer(hwnd, kDesktopTimer);
      }
      return 0;
    }
    case WM_WTSSESSION_CHANGE:
      if (const auto cause = CauseForSessionChange(wParam); cause && self->Journals()) {
        self->Cancel(*cause);
      }
      return 0;
    case WM_TIMER:
      if (wParam == kHookTimer) self->CheckHooksAlive();
      if (wParam == kDesktopTimer && self->Journals() && !InputDesktopIsOurs()) {
        self->Cancel(CancelCause::DesktopSwitch);
      }
      return 0;
    case WM_CLOSE:
      self->watchDesktop_ = false;
      ::SendMessageA(hwnd, kWatchDesktop, 0, 0);
      ::KillTimer(hwnd, kHookTimer);
      ::DestroyWindow(hwnd);
      self->watchWindow_ = nullptr;
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace vesk::win32
