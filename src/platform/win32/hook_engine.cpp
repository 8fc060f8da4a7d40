#include "platform/win32/hook_engine.h"

#include <mmsystem.h>

#include <algorithm>

#include "platform/win32/event_translation.h"

namespace vesk::win32 {

namespace {

HookEngine* g_engine = nullptr;  // system hook procedures carry no context

// Playback that falls this far behind starts a new schedule instead of
// replaying the backlog in a burst.
constexpr std::int64_t kResyncUs = 100'000;

std::int64_t NowUs() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  ::QueryPerformanceCounter(&c);
  const std::int64_t t = c.QuadPart;
  return t / frequency * 1'000'000 + t % frequency * 1'000'000 / frequency;
}

template <class Fn>
Fn Lookup(const char* module, const char* name) {
  HMODULE m = ::GetModuleHandleA(module);
  if (m == nullptr) return nullptr;
  // Through void(*)(): the one function type every other converts with.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

bool IsControlKey(DWORD vk) { return vk == VK_CONTROL || vk == VK_LCONTROL || vk == VK_RCONTROL; }

void CALLBACK PlaybackTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (g_engine != nullptr) g_engine->DrivePlayback();
}

}  // namespace

bool RunningOnWine() { return Lookup<void (*)()>("ntdll.dll", "wine_get_version") != nullptr; }

bool SystemJournalHooksExpected() {
  if (RunningOnWine()) return false;  // installs them, but never asks the playback hook
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto getVersion = Lookup<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
  if (getVersion == nullptr) return true;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (getVersion(&info) != 0) return true;
  // Windows 11 (build 22000) no longer supports journal hooks.
  return info.dwMajorVersion < 10 || info.dwBuildNumber < 22000;
}

namespace {

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

HookEngine::HookEngine(JournalMode mode) : mode_(mode), lowLevelTimeoutMs_(ReadLowLevelTimeout()) {
  g_engine = this;
}

HookEngine::~HookEngine() {
  for (Entry& e : entries_) e.alive = false;
  UpdateSystemHooks();
  if (g_engine == this) g_engine = nullptr;
}

bool HookEngine::AnyAlive(int kind) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [kind](const Entry& e) { return e.alive && e.kind == kind; });
}

HookEngine::Entry* HookEngine::Newest(int kind) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->alive && it->kind == kind) return &*it;
  }
  return nullptr;
}

bool HookEngine::Emulating(int kind) const {
  if (kind == WH_JOURNALRECORD) return recordLowLevel_ && AnyAlive(kind);
  if (kind == WH_JOURNALPLAYBACK) return playbackLowLevel_ && AnyAlive(kind);
  return false;
}

HookHandle HookEngine::Install(int kind, HookProc proc) {
  if (proc == nullptr) return 0;
  const bool journal = kind == WH_JOURNALRECORD || kind == WH_JOURNALPLAYBACK;
  if (!journal && kind != WH_GETMESSAGE && kind != WH_KEYBOARD_LL) return 0;
  thread_ = ::GetCurrentThreadId();
  if (calls_ == nullptr && !driving_) {
    std::erase_if(entries_, [](const Entry& e) { return !e.alive; });
  }
  const bool first = journal && !AnyAlive(kind);
  bool& lowLevel = kind == WH_JOURNALRECORD ? recordLowLevel_ : playbackLowLevel_;
  if (first) {
    lowLevel = mode_ == JournalMode::LowLevel ||
               (mode_ == JournalMode::Automatic && !SystemJournalHooksExpected());
  }
  const HookHandle handle = nextHandle_++;
  entries_.push_back({handle, kind, proc, true});
  bool ok = UpdateSystemHooks();
  if (!ok && first && !lowLevel && mode_ == JournalMode::Automatic) {
    lowLevel = true;  // the system refused its journal hook: use ours
    ok = UpdateSystemHooks();
  }
  if (!ok) {
    entries_.back().alive = false;
    UpdateSystemHooks();
    return 0;
  }
  return handle;
}

bool HookEngine::Remove(HookHandle hook) {
  if (hook == 0) return false;
  for (Entry& e : entries_) {
    if (e.handle == hook && e.alive) {
      e.alive = false;
      UpdateSystemHooks();
      return true;
    }
  }
  return false;
}

LResult HookEngine::CallNext(HookHandle hook, int code, WParam wParam, LParam lParam) {
  auto it = std::find_if(entries_.rbegin(), entries_.rend(),
                         [hook](const Entry& e) { return e.handle == hook; });
  if (it == entries_.rend()) return 0;
  const int kind = it->kind;
  for (++it; it != entries_.rend(); ++it) {
    if (it->alive && it->kind == kind) {
      const HookProc proc = it->proc;  // the procedure may install hooks
      return proc(code, wParam, lParam);
    }
  }
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

LResult HookEngine::RunChain(int kind, int code, WParam wParam, LParam lParam, SystemCall* call) {
  if (call != nullptr) {
    call->outer = calls_;
    calls_ = call;
  }
  LResult result = 0;
  if (Entry* e = Newest(kind)) {
    const HookProc proc = e->proc;
    result = proc(code, wParam, lParam);
  } else if (call != nullptr) {
    call->passedOn = true;
    call->result = ::CallNextHookEx(call->hook, call->code, call->wParam, call->lParam);
    result = call->result;
  }
  if (call != nullptr) calls_ = call->outer;
  return result;
}

bool HookEngine::UpdateSystemHooks() {
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
  want(keyboardHook_, AnyAlive(WH_KEYBOARD_LL) || recordLow || playbackLow, WH_KEYBOARD_LL,
       &SystemKeyboardProc, 0);
  want(mouseHook_, recordLow || playbackLow, WH_MOUSE_LL, &SystemMouseProc, 0);
  want(journalRecordHook_, record && !recordLowLevel_, WH_JOURNALRECORD, &SystemJournalRecordProc,
       0);
  want(journalPlaybackHook_, playback && !playbackLowLevel_, WH_JOURNALPLAYBACK,
       &SystemJournalPlaybackProc, 0);
  SetPlaybackTiming(playbackLow);
  return ok;
}

void HookEngine::SetPlaybackTiming(bool active) {
  if (active == (timer_ != 0)) return;
  if (active) {
    waiting_ = false;
    anchorUs_ = NowUs();
    finePeriod_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    // Keeps playback going inside message loops that are not ours.
    timer_ = ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &PlaybackTimerProc);
    if (timer_ == 0) timer_ = static_cast<UINT_PTR>(-1);
  } else {
    if (timer_ != static_cast<UINT_PTR>(-1)) ::KillTimer(nullptr, timer_);
    timer_ = 0;
    if (finePeriod_) ::timeEndPeriod(1);
    finePeriod_ = false;
    waiting_ = false;
  }
}

void HookEngine::CancelJournals() {
  for (Entry& e : entries_) {
    if (e.alive && ((e.kind == WH_JOURNALRECORD && recordLowLevel_) ||
                    (e.kind == WH_JOURNALPLAYBACK && playbackLowLevel_))) {
      e.alive = false;
    }
  }
  UpdateSystemHooks();
  ::PostThreadMessageA(thread_, WM_CANCELJOURNAL, 0, 0);
}

// ---------------------------------------------------------------- system procedures

LRESULT CALLBACK HookEngine::SystemGetMessageProc(int code, WPARAM wParam, LPARAM lParam) {
  HookEngine* self = g_engine;
  if (self == nullptr || lParam == 0) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  auto* sys = reinterpret_cast<::MSG*>(lParam);
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

LRESULT CALLBACK HookEngine::SystemKeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
  HookEngine* self = g_engine;
  if (self == nullptr || code != HC_ACTION || lParam == 0) {
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  const std::int64_t start = NowUs();
  const LRESULT result = self->OnLowLevelKey(code, wParam, lParam);
  self->CheckAnswerTime(start);
  return result;
}

LRESULT CALLBACK HookEngine::SystemMouseProc(int code, WPARAM wParam, LPARAM lParam) {
  HookEngine* self = g_engine;
  if (self == nullptr || code != HC_ACTION || lParam == 0) {
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  const std::int64_t start = NowUs();
  const LRESULT result = self->OnLowLevelMouse(code, wParam, lParam);
  self->CheckAnswerTime(start);
  return result;
}

LRESULT CALLBACK HookEngine::SystemJournalRecordProc(int code, WPARAM wParam, LPARAM lParam) {
  HookEngine* self = g_engine;
  if (self == nullptr) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  SystemCall call{WH_JOURNALRECORD, self->journalRecordHook_, code, wParam, lParam};
  if (code == HC_ACTION && lParam != 0) {
    EVENTMSG event = FromSystemEvent(*reinterpret_cast<const ::EVENTMSG*>(lParam));
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

LRESULT CALLBACK HookEngine::SystemJournalPlaybackProc(int code, WPARAM wParam, LPARAM lParam) {
  HookEngine* self = g_engine;
  if (self == nullptr) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  SystemCall call{WH_JOURNALPLAYBACK, self->journalPlaybackHook_, code, wParam, lParam};
  if (code == HC_GETNEXT && lParam != 0) {
    auto* sys = reinterpret_cast<::EVENTMSG*>(lParam);
    EVENTMSG event = FromSystemEvent(*sys);
    const LRESULT wait =
        self->RunChain(WH_JOURNALPLAYBACK, code, wParam, reinterpret_cast<LParam>(&event), &call);
    *sys = ToSystemEvent(event);
    return wait;
  }
  return self->RunChain(WH_JOURNALPLAYBACK, code, wParam, lParam, &call);
}

// ---------------------------------------------------------------- low-level path

LRESULT HookEngine::OnLowLevelKey(int code, WPARAM wParam, LPARAM lParam) {
  const auto& key = *reinterpret_cast<const ::KBDLLHOOKSTRUCT*>(lParam);
  SystemCall call{WH_KEYBOARD_LL, keyboardHook_, code, wParam, lParam};
  if (AnyAlive(WH_KEYBOARD_LL)) {
    KBDLLHOOKSTRUCT ours{key.vkCode, key.scanCode, key.flags, key.time, key.dwExtraInfo};
    const LRESULT result =
        RunChain(WH_KEYBOARD_LL, code, wParam, reinterpret_cast<LParam>(&ours), &call);
    if (result != 0) return result;  // swallowed: no window and no journal sees it
  }
  if (!IsInjected(key)) {
    const bool down = wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN;
    if (IsControlKey(key.vkCode)) ctrlDown_ = down;
    const bool journals = Emulating(WH_JOURNALRECORD) || Emulating(WH_JOURNALPLAYBACK);
    if (down && key.vkCode == VK_ESCAPE && ctrlDown_ && journals) {
      // Ctrl+Esc: the user takes input back, as system journals allow. The
      // system keeps that key for itself, so no window sees this Esc.
      CancelJournals();
      return 1;
    } else {
      if (Emulating(WH_JOURNALRECORD)) RecordLowLevel(FromLowLevelKey(wParam, key));
      // The user's own input waits while a journal plays.
      if (Emulating(WH_JOURNALPLAYBACK)) return 1;
    }
  }
  if (call.passedOn) return call.result;
  return ::CallNextHookEx(keyboardHook_, code, wParam, lParam);
}

LRESULT HookEngine::OnLowLevelMouse(int code, WPARAM wParam, LPARAM lParam) {
  const auto& mouse = *reinterpret_cast<const ::MSLLHOOKSTRUCT*>(lParam);
  if (!IsInjected(mouse)) {
    if (Emulating(WH_JOURNALRECORD)) RecordLowLevel(FromLowLevelMouse(wParam, mouse));
    if (Emulating(WH_JOURNALPLAYBACK)) return 1;
  }
  return ::CallNextHookEx(mouseHook_, code, wParam, lParam);
}

void HookEngine::RenewLowLevelHooks() {
  for (HHOOK* h : {&keyboardHook_, &mouseHook_}) {
    if (*h != nullptr) ::UnhookWindowsHookEx(*h);
    *h = nullptr;
  }
  UpdateSystemHooks();
}

void HookEngine::CheckAnswerTime(std::int64_t startUs) {
  if (lowLevelTimeoutMs_ == 0 ||
      NowUs() - startUs <= static_cast<std::int64_t>(lowLevelTimeoutMs_) * 1000) {
    return;
  }
  // The system may have removed the hook without telling us: a journal
  // that relied on it ends as if the system had cancelled it.
  const bool journals = Emulating(WH_JOURNALRECORD) || Emulating(WH_JOURNALPLAYBACK);
  RenewLowLevelHooks();
  if (journals) CancelJournals();
}

void HookEngine::RecordLowLevel(const EVENTMSG& event) {
  EVENTMSG copy = event;
  RunChain(WH_JOURNALRECORD, HC_ACTION, 0, reinterpret_cast<LParam>(&copy), nullptr);
}

bool HookEngine::Inject(const EVENTMSG& event) {
  Injection injection = ToInjection(event);
  if (injection.cursor && !::SetCursorPos(injection.cursor->x, injection.cursor->y)) return false;
  if (injection.input && ::SendInput(1, &*injection.input, sizeof(INPUT)) != 1) return false;
  return true;
}

bool HookEngine::DrivePlayback() {
  if (!Emulating(WH_JOURNALPLAYBACK)) {
    waiting_ = false;
    return false;
  }
  if (driving_) return false;
  const std::int64_t now = NowUs();
  if (waiting_) {
    if (now < dueUs_) return false;
    anchorUs_ = now - dueUs_ > kResyncUs ? now : dueUs_;
  } else if (now - anchorUs_ > kResyncUs) {
    anchorUs_ = now;
  }
  driving_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{driving_};

  EVENTMSG event{};
  const LResult wait =
      RunChain(WH_JOURNALPLAYBACK, HC_GETNEXT, 0, reinterpret_cast<LParam>(&event), nullptr);
  if (!Emulating(WH_JOURNALPLAYBACK)) {  // the procedure removed itself
    waiting_ = false;
    return true;
  }
  if (wait > 0) {
    waiting_ = true;
    dueUs_ = anchorUs_ + static_cast<std::int64_t>(wait) * 1000;
    return true;
  }
  waiting_ = false;
  if (!Inject(event)) {
    CancelJournals();  // the system refused our input: as if it had cancelled the journal
    return true;
  }
  if (Emulating(WH_JOURNALPLAYBACK)) RunChain(WH_JOURNALPLAYBACK, HC_SKIP, 0, 0, nullptr);
  return true;
}

DWORD HookEngine::PlaybackTimeout() const {
  if (!Emulating(WH_JOURNALPLAYBACK)) return INFINITE;
  if (!waiting_) return 0;
  const std::int64_t remaining = dueUs_ - NowUs();
  if (remaining <= 0) return 0;
  // A damaged journal can ask for weeks; wake up now and then regardless.
  return static_cast<DWORD>(std::min<std::int64_t>((remaining + 999) / 1000, 60'000));
}

}  // namespace vesk::win32
