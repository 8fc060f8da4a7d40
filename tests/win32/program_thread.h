// The whole program on a thread of the test process, as vesk.exe runs it,
// and the lines of its log.
#pragma once

#include "input_support.h"

namespace vesk::testing {

// The lines of the main window's log (same process: strings can be read).
inline std::vector<std::string> LogOf(HWND main) {
  HWND list = ::GetDlgItem(main, IDC_LOG);
  std::vector<std::string> lines;
  const LRESULT n = ::SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    const LRESULT length = ::SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) break;
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    ::SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<std::size_t>(length));
    lines.push_back(line);
  }
  return lines;
}

// The program on its own thread, as vesk.exe runs it.
class ProgramThread {
 public:
  // lowLevelTimeout: how late Windows would let the hooks answer (0: Wine's never).
  explicit ProgramThread(DWORD lowLevelTimeout = 0)
      : thread_([this, lowLevelTimeout] {
          Win32Backend backend;
          backend.Hooks().SetLowLevelTimeout(lowLevelTimeout);
          threadId_ = ::GetCurrentThreadId();
          InstallBackend(&backend);
          RunProgram();
          InstallBackend(nullptr);
          done_ = true;
        }) {}
  ~ProgramThread() {
    if (!done_ && main_ != nullptr) Command(IDC_EXIT);
    PumpUntil([this] { return done_.load(); }, 10000);
    thread_.join();
  }

  HWND WaitMain() {
    PumpUntil([this] { return FindMain() != nullptr; }, 10000);
    if (main_ != nullptr) {
      // A real click on the log activates the window for the X server too.
      RECT r{};
      ::GetWindowRect(::GetDlgItem(main_, IDC_LOG), &r);
      Xdotool("mousemove " + std::to_string((r.left + r.right) / 2) + " " +
              std::to_string((r.top + r.bottom) / 2) + " click 1");
    }
    return main_;
  }
  void Command(int id) { ::PostMessageA(main_, WM_COMMAND, MakeCommandWParam(id, BN_CLICKED), 0); }
  std::string Title() const {
    char buffer[256] = {};
    ::GetWindowTextA(main_, buffer, sizeof(buffer));
    return buffer;
  }
  bool WaitTitle(const std::string& title) { return WaitTitleFor(title, 10000); }
  bool WaitTitleFor(const std::string& title, DWORD timeoutMs) {
    return PumpUntil([&] { return Title() == title; }, timeoutMs);
  }
  std::vector<std::string> Log() const { return LogOf(main_); }
  DWORD ThreadId() const { return threadId_; }
  bool WaitLogLine(const std::string& part) { return WaitLogLineFor(part, 10000); }
  bool Done() const { return done_; }
  // Presses a key until the recording shows it: Wine gives the X focus to
  // the window on its own time. Call while recording.
  bool TakeKeyboard() {
    for (int attempt = 0; attempt < 10; ++attempt) {
      if (!Xdotool("key a")) return false;
      if (WaitLogLineFor("{a UP}", 1000)) return true;
    }
    return false;
  }
  bool WaitLogLineFor(const std::string& part, DWORD timeoutMs) {
    return PumpUntil(
        [&] {
          const auto lines = Log();
          return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(part) != std::string::npos;
          });
        },
        timeoutMs);
  }

 private:
  HWND FindMain() {
    if (threadId_ == 0) return nullptr;
    ::EnumThreadWindows(
        threadId_,
        [](HWND hwnd, LPARAM self) -> BOOL {
          if (::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, IDC_LOG) != nullptr) {
            reinterpret_cast<ProgramThread*>(self)->main_ = hwnd;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    return main_;
  }

  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> done_{false};
  HWND main_ = nullptr;
  std::thread thread_;
};

}  // namespace vesk::testing
