// The hook bridge: system hooks or the low-level path for each hook the
// program installs, and the low-level path's playback host.
#include "platform/win32/hook_bridge.h"

#include <mmsystem.h>

#include <algorithm>

#include "platform/win32/clock.h"
#include "platform/win32/hook_thread.h"

namespace vesk::win32 {

namespace {

HookBridge* g_bridge = nullptr;  // system hook procedures carry no context

constexpr UINT kQueueWake = WM_APP + 7;
// Foreground and desktop facts are looked up at most this often.
constexpr std::int64_t kFactsUs = 50'000;

void CALLBACK PlaybackTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (g_bridge != nullptr) g_bridge->DrivePlayback();
}

LRESULT CALLBACK QueueWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kQueueWake) {
    if (auto* bridge = reinterpret_cast<HookBridge*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
      bridge->Drain();
    }
    return 0;
  }
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND CreateQueueWindow(HookBridge* bridge) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &QueueWindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "VeskHookQueue";
  ::RegisterClassA(&wc);  // fails harmlessly when registered before
  HWND hwnd = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  if (hwnd != nullptr) ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bridge));
  return hwnd;
}

DWORD ReadLowLevelTimeout() {
  if (RunningOnWine()) return 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LowLevelHooksTimeout",
                     RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return 300;
  }
  // Windows 10 and later cap the timeout at one second.
  return std::clamp<DWORD>(value, 1, 1000);
}

}  // namespace

bool SystemJournalHooksExpected() {
  return !ChooseInputPath(JournalMode::Automatic, CurrentSystemFacts()).lowLevel;
}

HookBridge::HookBridge(JournalMode mode)
    : mode_(mode),
      choice_(ChooseInputPath(mode, CurrentSystemFacts())),
      thread_(::GetCurrentThreadId()),
      queueWindow_(CreateQueueWindow(this)),
      hookThread_(std::make_unique<HookThread>(queueWindow_, kQueueWake)),
      ownIntegrity_(OwnIntegrity()),
      onWine_(RunningOnWine()) {
  hookThread_->SetTimeout(ReadLowLevelTimeout());
  g_bridge = this;
}

HookBridge::~HookBridge() {
  chain_.Clear();
  UpdateSystemHooks();
  hookThread_.reset();
  if (queueWindow_ != nullptr) ::DestroyWindow(queueWindow_);
  if (g_bridge == this) g_bridge = nullptr;
}

DWORD HookBridge::LowLevelTimeout() const { return hookThread_->Timeout(); }
void HookBridge::SetLowLevelTimeout(DWORD milliseconds) { hookThread_->SetTimeout(milliseconds); }
std::int64_t HookBridge::SlowestHookAnswerUs() const { return hookThread_->SlowestAnswerUs(); }
HWND HookBridge::HookThreadWindow() const { return hookThread_->Window(); }

bool HookBridge::Emulating(int kind) const {
  if (kind == WH_JOURNALRECORD) return recordLowLevel_ && AnyAlive(kind);
  if (kind == WH_JOURNALPLAYBACK) return playbackLowLevel_ && AnyAlive(kind);
  return false;
}

HookHandle HookBridge::Install(int kind, HookProc proc) {
  if (proc == nullptr) return 0;
  const bool journal = kind == WH_JOURNALRECORD || kind == WH_JOURNALPLAYBACK;
  if (!journal && kind != WH_GETMESSAGE && kind != WH_KEYBOARD_LL) return 0;
  thread_ = ::GetCurrentThreadId();
  if (calls_ == nullptr && !playback_.Driving()) chain_.Compact();
  const bool first = journal && !AnyAlive(kind);
  bool& lowLevel = kind == WH_JOURNALRECORD ? recordLowLevel_ : playbackLowLevel_;
  if (first) lowLevel = choice_.lowLevel;
  const HookHandle handle = chain_.Install(kind, proc);
  bool ok = UpdateSystemHooks();
  if (!ok && first && !lowLevel && mode_ == JournalMode::Automatic) {
    lowLevel = true;  // the system refused its journal hook: use ours
    journalRefused_ = true;
    ok = UpdateSystemHooks();
  }
  if (!ok) {
    chain_.Remove(handle);
    UpdateSystemHooks();
    return 0;
  }
  return handle;
}

bool HookBridge::Remove(HookHandle hook) {
  if (!chain_.Remove(hook)) return false;  // a stale or null handle
  UpdateSystemHooks();
  return true;
}

LResult HookBridge::CallNext(HookHandle hook, int code, WParam wParam, LParam lParam) {
  const int kind = chain_.KindOf(hook);
  if (kind < 0) return 0;
  if (chain_.Next(hook) != nullptr) return chain_.CallNext(hook, code, wParam, lParam);
  // The end of our chain: the system's next hook, with the system's arguments.
  for (SystemCall* c = calls_; c != nullptr; c = c->outer) {
    if (c->kind != kind) continue;
    if (!c->passedOn) {
      c->passedOn = true;
      c->result = ::CallNextHookEx(c->hook, c->code, c->wParam, c->lParam);
    }
    return c->result;
  }
  return 0;
}

LResult HookBridge::RunChain(int kind, int code, WParam wParam, LParam lParam, SystemCall* call) {
  if (call != nullptr) {
    call->outer = calls_;
    calls_ = call;
  }
  LResult result = 0;
  if (chain_.AnyAlive(kind)) {
    result = chain_.CallFirst(kind, code, wParam, lParam);
  } else if (call != nullptr) {
    call->passedOn = true;
    call->result = ::CallNextHookEx(call->hook, call->code, call->wParam, call->lParam);
    result = call->result;
  }
  if (call != nullptr) calls_ = call->outer;
  return result;
}

bool HookBridge::UpdateSystemHooks() {
  bool ok = true;
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  const auto want = [&](HHOOK& h, bool needed, int kind, HOOKPROC proc, DWORD thread) {
    if (needed && h == nullptr) {
      h = ::SetWindowsHookExA(kind, proc, instance, thread);
      if (h == nullptr) ok = false;
    } else if (!needed && h != nullptr) {
      ::UnhookWindowsHookEx(h);  // fails harmlessly when the system removed it already
      h = nullptr;
    }
  };
  const bool record = AnyAlive(WH_JOURNALRECORD);
  const bool playback = AnyAlive(WH_JOURNALPLAYBACK);
  const bool recordLow = record && recordLowLevel_;
  const bool playbackLow = playback && playbackLowLevel_;
  // The message watch matters for our own thread only: the system posts
  // WM_CANCELJOURNAL there.
  want(getMessageHook_, AnyAlive(WH_GETMESSAGE), WH_GETMESSAGE, &SystemGetMessageProc, thread_);
  want(journalRecordHook_, record && !recordLowLevel_, WH_JOURNALRECORD, &SystemJournalRecordProc,
       0);
  want(journalPlaybackHook_, playback && !playbackLowLevel_, WH_JOURNALPLAYBACK,
       &SystemJournalPlaybackProc, 0);
  HookThread::Wants wants;
  wants.keyWatch = AnyAlive(WH_KEYBOARD_LL);
  wants.record = recordLow;
  wants.playback = playbackLow;
  wants.wheelNotes = record && !recordLowLevel_;
  if (!hookThread_->Apply(wants)) ok = false;
  SetPlaybackTiming(playbackLow);
  KeepAwake(playback);
  return ok;
}

void HookBridge::KeepAwake(bool awake) {
  if (awake == awake_) return;
  awake_ = awake;
  // A long run of moves is no reason for the display to sleep.
  ::SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED
                                  : ES_CONTINUOUS);
}

void HookBridge::SetPlaybackTiming(bool active) {
  if (active == (timer_ != 0)) return;
  if (active) {
    playback_.Reset();
    finePeriod_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    // Keeps playback going inside message loops that are not ours.
    timer_ = ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &PlaybackTimerProc);
    if (timer_ == 0) timer_ = static_cast<UINT_PTR>(-1);
  } else {
    if (timer_ != static_cast<UINT_PTR>(-1)) ::KillTimer(nullptr, timer_);
    timer_ = 0;
    if (finePeriod_) ::timeEndPeriod(1);
    finePeriod_ = false;
    playback_.Reset();
  }
}

void HookBridge::CancelJournals(CancelCause cause) {
  if (recordLowLevel_) chain_.Drop(WH_JOURNALRECORD);
  if (playbackLowLevel_) chain_.Drop(WH_JOURNALPLAYBACK);
  cancelReason_ = CancelReasonText(cause);
  UpdateSystemHooks();
  ::PostThreadMessageA(thread_, WM_CANCELJOURNAL, 0, 0);
}

std::string HookBridge::TakeCancelReason() {
  std::string reason;
  reason.swap(cancelReason_);
  return reason;
}

void HookBridge::Drain() {
  // One at a time: a procedure may run a nested message loop that drains
  // the rest, in order.
  while (std::optional<HookThread::Item> item = hookThread_->Pop()) {
    switch (item->kind) {
      case HookThread::Item::Kind::Key:
        if (AnyAlive(WH_KEYBOARD_LL)) {
          // The answer was given on the hook thread already.
          RunChain(WH_KEYBOARD_LL, HC_ACTION, item->message, reinterpret_cast<LParam>(&item->key),
                   nullptr);
        }
        break;
      case HookThread::Item::Kind::Record:
        if (Emulating(WH_JOURNALRECORD)) RecordLowLevel(item->event);
        break;
      case HookThread::Item::Kind::Cancel:
        CancelJournals(item->cause);
        hookThread_->CancelHandled();
        break;
    }
  }
}

// ---------------------------------------------------------------- system procedures

LRESULT CALLBACK HookBridge::SystemGetMessageProc(int code, WPARAM wParam, LPARAM lParam) {
  HookBridge* self = g_bridge;
  if (self == nullptr || lParam == 0) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  auto* sys = reinterpret_cast<::MSG*>(lParam);
  if (code == HC_ACTION && sys->message == WM_CANCELJOURNAL && self->cancelReason_.empty()) {
    self->cancelReason_ = CancelReasonText(CancelCause::SystemJournal);  // not one of ours
  }
  MSG msg{reinterpret_cast<WindowId>(sys->hwnd),
          sys->message,
          sys->wParam,
          sys->lParam,
          sys->time,
          sys->pt.x,
          sys->pt.y};
  SystemCall call{WH_GETMESSAGE, self->getMessageHook_, code, wParam, lParam};
  const LRESULT result =
      self->RunChain(WH_GETMESSAGE, code, wParam, reinterpret_cast<LParam>(&msg), &call);
  if (code == HC_ACTION) {  // a get-message procedure may change the message
    sys->hwnd = reinterpret_cast<HWND>(msg.hwnd);
    sys->message = msg.message;
    sys->wParam = msg.wParam;
    sys->lParam = msg.lParam;
  }
  return result;
}

LRESULT CALLBACK HookBridge::SystemJournalRecordProc(int code, WPARAM wParam, LPARAM lParam) {
  HookBridge* self = g_bridge;
  if (self == nullptr) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  SystemCall call{WH_JOURNALRECORD, self->journalRecordHook_, code, wParam, lParam};
  if (code == HC_ACTION && lParam != 0) {
    const auto& sys = *reinterpret_cast<const ::EVENTMSG*>(lParam);
    std::optional<int> wheel;
    if (sys.message == WM_MOUSEWHEEL) wheel = self->hookThread_->TakeWheelNote();
    EVENTMSG event = FromSystemEvent(sys, wheel);
    const std::uint32_t m = event.message;
    if (m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP) {
      // Some systems keep the key's transition flags above the scan code;
      // our journals hold scan code and virtual key only, as the low-level
      // path records them (the extended flag is in paramH).
      event.paramL &= 0xFFFFu;
    }
    return self->RunChain(WH_JOURNALRECORD, code, wParam, reinterpret_cast<LParam>(&event), &call);
  }
  return self->RunChain(WH_JOURNALRECORD, code, wParam, lParam, &call);
}

LRESULT CALLBACK HookBridge::SystemJournalPlaybackProc(int code, WPARAM wParam, LPARAM lParam) {
  HookBridge* self = g_bridge;
  if (self == nullptr) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  SystemCall call{WH_JOURNALPLAYBACK, self->journalPlaybackHook_, code, wParam, lParam};
  static std::optional<JournalWheel> s_wheel;  // handed over, posted when processed
  if (code == HC_GETNEXT && lParam != 0) {
    auto* sys = reinterpret_cast<::EVENTMSG*>(lParam);
    EVENTMSG event = FromSystemEvent(*sys);
    const LRESULT wait =
        self->RunChain(WH_JOURNALPLAYBACK, code, wParam, reinterpret_cast<LParam>(&event), &call);
    *sys = ToSystemEvent(event);
    s_wheel = WheelForJournalPlayback(event);
    return wait;
  }
  if (code == HC_SKIP && s_wheel) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    if (::GetGUIThreadInfo(0, &gui) && gui.hwndFocus != nullptr) {
      ::PostMessageA(gui.hwndFocus, WM_MOUSEWHEEL,
                     MAKEWPARAM(0, static_cast<WORD>(static_cast<std::int16_t>(s_wheel->delta))),
                     MAKELPARAM(static_cast<WORD>(s_wheel->x), static_cast<WORD>(s_wheel->y)));
    }
    s_wheel.reset();
  }
  return self->RunChain(WH_JOURNALPLAYBACK, code, wParam, lParam, &call);
}

// ---------------------------------------------------------------- low-level path

void HookBridge::RecordLowLevel(const EVENTMSG& event) {
  EVENTMSG copy = event;
  RunChain(WH_JOURNALRECORD, HC_ACTION, 0, reinterpret_cast<LParam>(&copy), nullptr);
}

InjectionFacts HookBridge::CurrentFacts() {
  if (factsSource_) return factsSource_();
  static std::int64_t s_checkedUs = 0;
  static bool s_desktopOurs = true;
  const std::int64_t now = NowUs();
  HWND foreground = ::GetForegroundWindow();
  if (foreground != foreground_ || now - s_checkedUs > kFactsUs) {
    foreground_ = foreground;
    foregroundIntegrity_ = ForegroundIntegrity();
    s_desktopOurs = InputDesktopIsOurs();
    s_checkedUs = now;
  }
  InjectionFacts facts;
  facts.inputDesktopOurs = s_desktopOurs;
  facts.ownIntegrity = ownIntegrity_;
  facts.foregroundIntegrity = foregroundIntegrity_;
  return facts;
}

std::optional<CancelCause> HookBridge::Inject(const EVENTMSG& event) {
  std::optional<INPUT> input = ToInput(event, VirtualDesktop());
  if (!input) return std::nullopt;  // nothing this system can play: skipped
  InjectionFacts facts = CurrentFacts();
  if (auto cause = JudgeInjection(facts)) return cause;
  facts.asked = 1;
  LeadOnWine(event);
  facts.sent = ::SendInput(1, &*input, sizeof(INPUT));
  if (facts.sent == 1) return std::nullopt;
  foreground_ = nullptr;  // look again: the reason may be new
  facts = CurrentFacts();
  facts.asked = 1;
  return JudgeInjection(facts);
}

void HookBridge::LeadOnWine(const EVENTMSG& event) {
  // Wine moves its own idea of the pointer for injected moves but not the X
  // pointer, and takes the X pointer's place back at the next X event.
  // Placing the pointer first warps the X pointer too; the injected event
  // then finds it there. Windows needs none of this.
  if (!onWine_ || event.message < WM_MOUSEMOVE || event.message > WM_MOUSEWHEEL) return;
  const int x = static_cast<std::int32_t>(event.paramL);
  const int y = static_cast<std::int32_t>(event.paramH);
  // Wine warps only when its own position changes, and that may already be
  // there while the X pointer is not.
  POINT now{};
  if (::GetCursorPos(&now) && now.x == x && now.y == y) ::SetCursorPos(x == 0 ? 1 : x - 1, y);
  ::SetCursorPos(x, y);
}

std::uint32_t HookBridge::SendNow(const std::vector<EVENTMSG>& events) {
  const DesktopRect desktop = VirtualDesktop();
  std::vector<INPUT> inputs;
  inputs.reserve(events.size());
  for (const EVENTMSG& e : events) {
    std::optional<INPUT> in = ToInput(e, desktop);
    if (!in) continue;
    const bool release =
        e.message == WM_LBUTTONUP || e.message == WM_RBUTTONUP || e.message == WM_MBUTTONUP;
    if (release) {
      // Let go where the pointer is now: the press may have been the start
      // of a drag that playback carried on elsewhere.
      in->mi.dwFlags &=
          ~static_cast<DWORD>(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK);
      in->mi.dx = in->mi.dy = 0;
    }
    inputs.push_back(*in);
  }
  if (inputs.empty()) return 0;
  return ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

bool HookBridge::DrivePlayback() { return playback_.Drive(); }

HookHandle HookBridge::PlaybackHook() {
  return Emulating(WH_JOURNALPLAYBACK) ? chain_.FirstHandle(WH_JOURNALPLAYBACK) : HookHandle{0};
}

LResult HookBridge::CallPlaybackHook(int code, EVENTMSG* event) {
  return RunChain(WH_JOURNALPLAYBACK, code, 0, reinterpret_cast<LParam>(event), nullptr);
}

std::uint64_t HookBridge::NowNs() { return static_cast<std::uint64_t>(NowUs()) * 1000u; }

bool HookBridge::Process(const EVENTMSG& event) {
  if (const std::optional<CancelCause> refused = Inject(event)) {
    CancelJournals(*refused);  // as if the system had cancelled the journal
    return false;
  }
  return true;
}

DWORD HookBridge::PlaybackTimeout() const {
  if (!Emulating(WH_JOURNALPLAYBACK)) return INFINITE;
  if (!playback_.Waiting()) return 0;
  const std::int64_t remaining = static_cast<std::int64_t>(playback_.DueNs() / 1000u) - NowUs();
  if (remaining <= 0) return 0;
  // A damaged journal can ask for weeks; wake up now and then regardless.
  return static_cast<DWORD>(std::min<std::int64_t>((remaining + 999) / 1000, 60'000));
}

}  // namespace vesk::win32
