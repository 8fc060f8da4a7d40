// The low-level keyboard and mouse hooks, on a thread of raised priority
// that does nothing else, and a watch thread beside it. Windows silently
// removes a low-level hook whose round trip, from the event to the answer,
// exceeds LowLevelHooksTimeout (at most one second), so the answers —
// swallow Ctrl+Break, cancel on Ctrl+Esc, hold the user's input back
// during playback — are decided here at once, and everything the program
// wants to see is queued for the user-interface thread, which may be busy
// in a dialog for as long as it likes. The watch thread notices a removed
// hook (the system saw input the hooks did not) and has it put back; it
// also watches for desktop switches and session changes.
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
    enum class Kind { Key, Record, Cancel, Gap };
    Kind kind = Kind::Key;
    WPARAM message = 0;  // Key: the keyboard message
    KBDLLHOOKSTRUCT key{};
    EVENTMSG event{};  // Record
    CancelCause cause = CancelCause::CtrlEsc;
    // Gap: the hooks were put back; input between these ticks may be missing.
    DWORD gapFrom = 0;
    DWORD gapTo = 0;
  };
  struct Wants {
    bool keyWatch = false;    // the program watches every key (Ctrl+Break)
    bool record = false;      // recording on the low-level path
    bool playback = false;    // playing on the low-level path: the user's input waits
    bool wheelNotes = false;  // recording on the journal path: note the wheel's deltas
  };

  // Asks the hook thread to put its hooks back.
  static constexpr UINT kReinstallMessage = WM_APP + 2;

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
  // The oldest wheel delta (or side button) noted for that message on the
  // journal path.
  std::optional<int> TakeWheelNote(UINT message);
  // The user-interface thread has acted on a Cancel item.
  void CancelHandled() { cancelPending_ = false; }

  // An answer slower than this makes the hooks count as removed, as
  // Windows would have it; 0 for never (Wine removes none).
  void SetTimeout(DWORD milliseconds) { timeoutMs_ = milliseconds; }
  DWORD Timeout() const { return timeoutMs_; }
  // The watch thread's hidden window, which session notifications reach.
  HWND Window() const { return watchWindow_; }
  // Test stand-ins for what Windows does and Wine does not: with the
  // switch on, a hook called later than the timeout after its event is
  // removed, as Windows removes it, and that call is lost; Stall keeps the
  // hook thread from answering anything for a while.
  void SetDropLateHooks(bool on) { dropLate_ = on; }
  void Stall(DWORD milliseconds);
  // How often the hooks were put back after the system had dropped them.
  int Reinstalls() const { return reinstalls_; }
  // The slowest answer the hooks gave so far, in microseconds.
  std::int64_t SlowestAnswerUs() const { return slowestUs_; }

 private:
  void Run();
  void RunWatch(HANDLE ready);
  // Runs first in every hook call: notes the call, and under the test
  // switch drops a late hook (true: the call is lost).
  bool Arrived(HHOOK hook, DWORD eventTime);
  void CheckHooksAlive();
  void Reinstall();
  void WatchDesktop(bool on);
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
  static LRESULT CALLBACK WatchProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static void CALLBACK DesktopSwitched(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD);

  HWND wakeWindow_;
  UINT wakeMessage_;
  std::mutex mutex_;
  std::deque<Item> queue_;
  std::deque<std::pair<UINT, int>> wheelNotes_;
  std::atomic<bool> keyWatch_{false};
  std::atomic<bool> record_{false};
  std::atomic<bool> playback_{false};
  std::atomic<bool> noteWheel_{false};
  std::atomic<bool> cancelPending_{false};
  std::atomic<DWORD> timeoutMs_{0};
  std::atomic<std::int64_t> slowestUs_{0};
  std::atomic<bool> dropLate_{false};
  std::atomic<bool> hooksOn_{false};
  std::atomic<bool> reinstallPending_{false};
  std::atomic<bool> watchDesktop_{false};
  std::atomic<DWORD> lastCallTick_{0};
  std::atomic<int> reinstalls_{0};

  // Owned by the hook thread.
  HWND window_ = nullptr;
  HHOOK keyboard_ = nullptr;
  HHOOK mouse_ = nullptr;
  bool ctrlDown_ = false;
  std::thread thread_;

  // Owned by the watch thread.
  HWND watchWindow_ = nullptr;
  HWINEVENTHOOK desktopSwitch_ = nullptr;
  bool sessionNotes_ = false;
  std::thread watchThread_;
};

}  // namespace vesk::win32
