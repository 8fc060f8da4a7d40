// Display scaling: per-monitor awareness, fonts and the virtual desktop's size.
#include "platform/win32/dpi.h"

#include <algorithm>

#include "platform/win32/event_translation.h"
#include "platform/win32/windows_api.h"

namespace vesk::win32 {

namespace {

// The functions arrived with Windows 8.1 and 10 1703; looked up so that the
// program still starts where they are missing.
using Context = HANDLE;
const Context kPerMonitorV2 = reinterpret_cast<Context>(static_cast<INT_PTR>(-4));

template <class Fn>
Fn Lookup(const char* module, const char* name) {
  HMODULE m = ::GetModuleHandleA(module);
  if (m == nullptr) m = ::LoadLibraryA(module);
  if (m == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

}  // namespace

DpiAwareness CurrentDpiAwareness() {
  using GetContextFn = Context(WINAPI*)();
  using AwarenessFn = int(WINAPI*)(Context);
  using EqualFn = BOOL(WINAPI*)(Context, Context);
  const auto getContext = Lookup<GetContextFn>("user32.dll", "GetThreadDpiAwarenessContext");
  const auto awareness = Lookup<AwarenessFn>("user32.dll", "GetAwarenessFromDpiAwarenessContext");
  const auto equal = Lookup<EqualFn>("user32.dll", "AreDpiAwarenessContextsEqual");
  if (getContext != nullptr && awareness != nullptr) {
    const Context context = getContext();
    if (equal != nullptr && equal(context, kPerMonitorV2)) return DpiAwareness::PerMonitorV2;
    switch (awareness(context)) {
      case 2:
        return DpiAwareness::PerMonitor;
      case 1:
        return DpiAwareness::System;
      default:
        return DpiAwareness::Unaware;
    }
  }
  return ::IsProcessDPIAware() ? DpiAwareness::System : DpiAwareness::Unaware;
}

DpiAwareness EnableDpiAwareness() {
  if (CurrentDpiAwareness() == DpiAwareness::PerMonitorV2) return DpiAwareness::PerMonitorV2;
  using SetContextFn = BOOL(WINAPI*)(Context);
  using SetAwarenessFn = HRESULT(WINAPI*)(int);
  if (const auto set = Lookup<SetContextFn>("user32.dll", "SetProcessDpiAwarenessContext")) {
    set(kPerMonitorV2);
  }
  if (CurrentDpiAwareness() < DpiAwareness::PerMonitor) {
    if (const auto set = Lookup<SetAwarenessFn>("shcore.dll", "SetProcessDpiAwareness")) {
      set(2);  // PROCESS_PER_MONITOR_DPI_AWARE
    }
  }
  if (CurrentDpiAwareness() == DpiAwareness::Unaware) ::SetProcessDPIAware();
  return CurrentDpiAwareness();
}

DesktopRect VirtualDesktop() {
  DesktopRect d;
  d.left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
  d.top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
  d.width = std::max(1, ::GetSystemMetrics(SM_CXVIRTUALSCREEN));
  d.height = std::max(1, ::GetSystemMetrics(SM_CYVIRTUALSCREEN));
  return d;
}

}  // namespace vesk::win32
