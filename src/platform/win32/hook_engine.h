// The hooks the engine asks for, on top of what this Windows offers.
//
// The watch hooks map straight onto system hooks. The journal hooks are
// system journal hooks where Windows still has them; elsewhere (Windows 11
// and later, Wine, or when installing one fails) recording is built from
// the low-level keyboard and mouse hooks, and playback is driven from our
// own message loop with the same HC_GETNEXT/HC_SKIP protocol, injecting
// with SendInput. The engine cannot tell the two apart.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

enum class JournalMode {
  Automatic,  // system journal hooks where they work, the low-level path elsewhere
  LowLevel,   // always the low-level path
  System,     // always the system journal hooks (fails where they are missing)
};

// True under Wine (ntdll exports wine_get_version).
bool RunningOnWine();
// Whether the system journal hooks are worth trying on this system.
bool SystemJournalHooksExpected();

class HookEngine {
 public:
  explicit HookEngine(JournalMode mode);
  ~HookEngine();
  HookEngine(const HookEngine&) = delete;
  HookEngine& operator=(const HookEngine&) = delete;

  HookHandle Install(int kind, HookProc proc);
  bool Remove(HookHandle hook);
  LResult CallNext(HookHandle hook, int code, WParam wParam, LParam lParam);

  // Low-level playback: does the work that is due (one request or one
  // event); false when there was none.
  bool DrivePlayback();
  // Milliseconds until DrivePlayback has work; INFINITE when it has none.
  DWORD PlaybackTimeout() const;

  // Whether the journal hook of that kind is currently the low-level path.
  bool Emulating(int kind) const;

  // Windows silently removes a low-level hook that does not answer within
  // this many milliseconds (the user's LowLevelHooksTimeout); 0 where the
  // system removes none (Wine).
  DWORD LowLevelTimeout() const { return lowLevelTimeoutMs_; }
  void SetLowLevelTimeout(DWORD milliseconds) { lowLevelTimeoutMs_ = milliseconds; }
  // Installs the low-level hooks afresh: after the thread did not answer
  // for longer than the timeout, the system may have removed them.
  void RenewLowLevelHooks();

  // The system hook procedures (public so that tests can drive the
  // translation of the journal hooks, which Wine never calls for playback).
  static LRESULT CALLBACK SystemGetMessageProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SystemKeyboardProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SystemMouseProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SystemJournalRecordProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SystemJournalPlaybackProc(int code, WPARAM wParam, LPARAM lParam);

 private:
  struct Entry {
    HookHandle handle;
    int kind;
    HookProc proc;
    bool alive;
  };
  // A call the system made into one of our system hooks: where the chain
  // ends, the system's next hook gets the system's own arguments.
  struct SystemCall {
    int kind;
    HHOOK hook;
    int code;
    WPARAM wParam;
    LPARAM lParam;
    bool passedOn = false;
    LRESULT result = 0;
    SystemCall* outer = nullptr;
  };

  bool AnyAlive(int kind) const;
  Entry* Newest(int kind);
  LResult RunChain(int kind, int code, WParam wParam, LParam lParam, SystemCall* call);
  bool UpdateSystemHooks();
  void ReleaseSystemHooks();
  LRESULT OnLowLevelKey(int code, WPARAM wParam, LPARAM lParam);
  LRESULT OnLowLevelMouse(int code, WPARAM wParam, LPARAM lParam);
  void RecordLowLevel(const EVENTMSG& event);
  // What the system does when it cancels journal hooks.
  void CancelJournals();
  bool Inject(const EVENTMSG& event);
  void SetPlaybackTiming(bool active);
  // After a hook call that took too long: as the system would have.
  void CheckAnswerTime(std::int64_t startUs);

  JournalMode mode_;
  std::vector<Entry> entries_;  // newest last
  HookHandle nextHandle_ = 0x100;
  DWORD thread_ = 0;  // the thread that installs and runs the hooks

  HHOOK getMessageHook_ = nullptr;
  HHOOK keyboardHook_ = nullptr;
  HHOOK mouseHook_ = nullptr;
  HHOOK journalRecordHook_ = nullptr;
  HHOOK journalPlaybackHook_ = nullptr;
  bool recordLowLevel_ = false;    // chosen when the first record hook came
  bool playbackLowLevel_ = false;  // chosen when the first playback hook came
  SystemCall* calls_ = nullptr;    // innermost first

  bool ctrlDown_ = false;
  // Playback schedule, in microseconds of the performance counter. The
  // anchor is the moment the previous wait was due, so waits add up
  // without the time spent between them.
  bool waiting_ = false;
  std::int64_t anchorUs_ = 0;
  std::int64_t dueUs_ = 0;
  bool driving_ = false;
  UINT_PTR timer_ = 0;
  bool finePeriod_ = false;
  DWORD lowLevelTimeoutMs_;
};

}  // namespace vesk::win32
