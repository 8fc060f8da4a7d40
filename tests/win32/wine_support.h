// Support for the Windows tests: waiting on conditions while messages
// flow, temporary folders, and real input through the X server that Wine
// draws on (xdotool, started as a Unix program from inside Wine).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "common/test_files.h"
#include "platform/win32/windows_api.h"

namespace vesk::testing {

// Dispatches this thread's messages until done() or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  while (!done()) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return done();
    ::MsgWaitForMultipleObjectsEx(0, nullptr,
                                  static_cast<DWORD>(std::min<ULONGLONG>(end - now, 10)),
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    ::MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  return true;
}

// Starts a Unix program (Wine runs native executables given by path).
// It runs on its own; callers wait for its effects.
inline bool StartUnix(const std::string& commandLine) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string line = commandLine;
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
    return false;
  }
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

// Real input: X events that Wine receives as hardware input (not injected).
inline bool Xdotool(const std::string& arguments) {
  return StartUnix("/usr/bin/xdotool " + arguments);
}

// A plain top-level edit window of the test's own, focused, for input to land in.
class TargetEdit {
 public:
  TargetEdit(int x, int y, int width, int height) {
    hwnd_ =
        ::CreateWindowExA(0, "EDIT", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_AUTOHSCROLL, x, y,
                          width, height, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ::SetForegroundWindow(hwnd_);
    ::SetFocus(hwnd_);
    PumpUntil([] { return false; }, 100);  // let the window settle on screen
  }
  ~TargetEdit() { ::DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  std::string Text() const {
    char buffer[256] = {};
    ::GetWindowTextA(hwnd_, buffer, sizeof(buffer));
    return buffer;
  }

 private:
  HWND hwnd_ = nullptr;
};

}  // namespace vesk::testing
