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

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh working folder for one test.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info != nullptr
                                 ? std::string(info->test_suite_name()) + "." + info->name()
                                 : std::string("vesk");
    path_ = std::filesystem::temp_directory_path() /
            ("vesk-w32-" + name + "-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~TempDir() {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
  std::filesystem::path old_;
};

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
