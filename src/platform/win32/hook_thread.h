// The low-level keyboard and mouse hooks, on a thread that does nothing
// else. Windows silently removes a low-level hook that does not answer
// within LowLevelHooksTimeout (at most one second), so the answers —
// swallow Ctrl+Break, cancel on Ctrl+Esc or a desktop switch, hold the
// user's input back during playback — are decided here at once, and
// everything the program wants to see is queued for the user-interface
// thread, which may be busy in a dialog for as long as it likes.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/win32/system_checks.h"
#include "platform/win32/windows_api.h"

namespace vesk::win32 {

class HookThread {
 public:
  struct Item {
    enum class Kind { Key, Record, Cancel };
    Kind kind = Kind::Key;
    WPARAM message = 0;  // Key: the keyboard message
    KBDLLHOOKSTRUCT key{};
    EVENTMSG event{};  // Record
    CancelCause cause = CancelCause::CtrlEsc;
  };
  struct Wants {
    bool keyWatch = false;    // the program watches every key (Ctrl+Break)
    bool record = false;      // recording on the low-level path
    bool playback = false;    // playing on the low-level path: the user's input waits
    bool wheelNotes = false;  // recording on the journal path: note the wheel's deltas
  };

  // When the queue gains an item while empty, wakeMessage is posted to
  // wakeWindow (a window of the user-interface thread).
  HookThread(HWND wakeWindow, UINT wakeMessage);
  ~HookThread();
  HookThread(const HookThread&) = delete;
  HookThread& operator=(const HookThread&) = delete;

  // Installs or removes the system hooks the wants need; false when the
  // system refused one.
  bool Apply(const Wants& wants);
  std::optional<Item> Pop();
  // The oldest wheel delta noted for the journal path.
  std::optional<int> TakeWheelNote();
  // The user-interface thread has acted on a Cancel item.
  void CancelHandled() { cancelPending_ = false; }

  // An answer slower than this makes the hooks count as removed, as
  // Windows would have it; 0 for never (Wine removes none).
  void SetTimeout(DWORD milliseconds) { timeoutMs_ = milliseconds; }
  DWORD Timeout() const { return timeoutMs_; }
  // The thread's hidden window, which session notifications reach.
  HWND Window() const { return window_; }
  // The slowest answer the hooks gave so far, in microseconds.
  std::int64_t SlowestAnswerUs() const { return slowestUs_; }

 private:
  void Run();
  LRESULT OnKey(int code, WPARAM wParam, LPARAM lParam);
  LRESULT OnMouse(int code, WPARAM wParam, LPARAM lParam);
  bool Journals() const { return (record_ || playback_) && !cancelPending_; }
  void Push(const Item& item);
  void Cancel(CancelCause cause);
  bool InstallHooks(bool keyboard, bool mouse);
  void Answered(std::int64_t startUs);

  static LRESULT CALLBACK KeyProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK MouseProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static void CALLBACK DesktopSwitched(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD);

  HWND wakeWindow_;
  UINT wakeMessage_;
  std::mutex mutex_;
  std::deque<Item> queue_;
  std::deque<int> wheelNotes_;
  std::atomic<bool> keyWatch_{false};
  std::atomic<bool> record_{false};
  std::atomic<bool> playback_{false};
  std::atomic<bool> noteWheel_{false};
  std::atomic<bool> cancelPending_{false};
  std::atomic<DWORD> timeoutMs_{0};
  std::atomic<std::int64_t> slowestUs_{0};

  // Owned by the hook thread.
  HWND window_ = nullptr;
  HHOOK keyboard_ = nullptr;
  HHOOK mouse_ = nullptr;
  HWINEVENTHOOK desktopSwitch_ = nullptr;
  bool ctrlDown_ = false;
  bool sessionNotes_ = false;
  std::thread thread_;
};

}  // namespace vesk::win32
