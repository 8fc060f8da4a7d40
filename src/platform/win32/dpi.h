// Display scaling. The program is per-monitor (v2) DPI-aware: the manifest
// says so, and where the manifest is not honoured the API is asked at run
// time. Then hooks, the cursor and SendInput all speak physical pixels.
#pragma once

namespace vesk::win32 {

enum class DpiAwareness { Unaware, System, PerMonitor, PerMonitorV2 };

// Makes the process as aware as this Windows allows; returns what it is.
DpiAwareness EnableDpiAwareness();
DpiAwareness CurrentDpiAwareness();

}  // namespace vesk::win32
