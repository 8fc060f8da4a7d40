// The bridge between the hooks the program asks for (src/engine) and what
// this Windows offers.
//
// The watch hooks map onto system hooks. The journal hooks are system
// journal hooks where Windows still lets this program have them; elsewhere
// (Windows 11 and later, Windows 10 without administrator rights, Wine, or
// when installing one fails) recording is built from the low-level
// keyboard and mouse hooks, and playback is driven from our own message
// loop with the same HC_GETNEXT/HC_SKIP protocol, injecting with
// SendInput. The engine cannot tell the two apart.
//
// The low-level hooks live on a thread of their own (HookThread); what
// they see reaches the engine's procedures here, on the user-interface
// thread, through a queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/event_translation.h"
#include "platform/win32/system_checks.h"
#include "platform/win32/windows_api.h"
#include "platform/winapi/hook_chain.h"
#include "platform/winapi/playback_driver.h"

namespace vesk::win32 {

class HookThread;

// Whether the system journal hooks are worth trying on this system.
bool SystemJournalHooksExpected();

class HookBridge : private winapi::PlaybackDriver::Host {
 public:
  explicit HookBridge(JournalMode mode);
  ~HookBridge() override;
  HookBridge(const HookBridge&) = delete;
  HookBridge& operator=(const HookBridge&) = delete;

  HookHandle Install(int kind, HookProc proc);
  bool Remove(HookHandle hook);
  LResult CallNext(HookHandle hook, int code, WParam wParam, LParam lParam);

  // Low-level playback: does the work that is due (one request or one
  // event); false when there was none.
  bool DrivePlayback();
  // Milliseconds until DrivePlayback has work; INFINITE when it has none.
  DWORD PlaybackTimeout() const;
  // Hands what the hook thread queued to the engine's procedures.
  void Drain();

  // Whether the journal hook of that kind is currently the low-level path.
  bool Emulating(int kind) const;
  // The path a new journal hook would take, and the line saying why.
  const PathChoice& Choice() const { return choice_; }
  // Set when the system refused its journal hooks and the low-level path
  // took over.
  bool JournalRefused() const { return journalRefused_; }

  // Windows silently removes a low-level hook that does not answer within
  // this many milliseconds (the user's LowLevelHooksTimeout); 0 where the
  // system removes none (Wine). Tests set it to what Windows would do.
  DWORD LowLevelTimeout() const;
  void SetLowLevelTimeout(DWORD milliseconds);
  std::int64_t SlowestHookAnswerUs() const;
  // The hook thread's window (session notifications go there).
  HWND HookThreadWindow() const;

  // Where playback learns what the system allows (the foreground's
  // integrity, the input desktop); tests put situations here that Wine
  // cannot produce. Null restores the live facts.
  void SetFactsSource(std::function<InjectionFacts()> source) { factsSource_ = std::move(source); }

  // Sends events now (the engine's SendInput service); returns how many
  // went through.
  std::uint32_t SendNow(const std::vector<EVENTMSG>& events);
  // Why the journals were last cancelled, then forgotten.
  std::string TakeCancelReason();

  // The system hook procedures (public so that tests can drive the
  // translation of the journal hooks, which Wine never calls for playback).
  static LRESULT CALLBACK SystemGetMessageProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SystemJournalRecordProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SystemJournalPlaybackProc(int code, WPARAM wParam, LPARAM lParam);

 private:
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

  bool AnyAlive(int kind) const { return chain_.AnyAlive(kind); }
  LResult RunChain(int kind, int code, WParam wParam, LParam lParam, SystemCall* call);
  bool UpdateSystemHooks();
  void RecordLowLevel(const EVENTMSG& event);
  // What the system does when it cancels journal hooks, with the reason.
  void CancelJournals(CancelCause cause);
  // Sends one event; the cause when it could not go.
  std::optional<CancelCause> Inject(const EVENTMSG& event);
  InjectionFacts CurrentFacts();
  void LeadOnWine(const EVENTMSG& event);
  void SetPlaybackTiming(bool active);
  // The playback driver's host: the performance counter, SendInput.
  HookHandle PlaybackHook() override;
  LResult CallPlaybackHook(int code, EVENTMSG* event) override;
  std::uint64_t NowNs() override;
  void WakeAt(std::uint64_t) override {}  // the timer and the message loop ask
  bool Process(const EVENTMSG& event) override;
  void KeepAwake(bool awake);

  JournalMode mode_;
  PathChoice choice_;
  bool journalRefused_ = false;
  winapi::HookChain chain_{0x100};
  DWORD thread_ = 0;  // the thread that installs hooks and runs their procedures
  HWND queueWindow_ = nullptr;
  std::unique_ptr<HookThread> hookThread_;

  HHOOK getMessageHook_ = nullptr;
  HHOOK journalRecordHook_ = nullptr;
  HHOOK journalPlaybackHook_ = nullptr;
  bool recordLowLevel_ = false;    // chosen when the first record hook came
  bool playbackLowLevel_ = false;  // chosen when the first playback hook came
  SystemCall* calls_ = nullptr;    // innermost first
  std::string cancelReason_;
  bool awake_ = false;

  // Facts about the foreground, looked up again when it changes.
  HWND foreground_ = nullptr;
  std::optional<DWORD> foregroundIntegrity_;
  DWORD ownIntegrity_;
  bool onWine_;
  std::function<InjectionFacts()> factsSource_;

  // One request at a time: the message loop runs between them.
  winapi::PlaybackDriver playback_{*this, 1};
  UINT_PTR timer_ = 0;
  bool finePeriod_ = false;
};

}  // namespace vesk::win32
