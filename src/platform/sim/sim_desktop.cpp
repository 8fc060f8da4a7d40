// The simulated desktop's turns, its input and message loop, hooks, time,
// the named mutex and loaded libraries.
#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <utility>

namespace vesk::sim {

namespace {
SimDesktop* g_current = nullptr;  // for the layered-window function pointer
}  // namespace

SimDesktop::SimDesktop() { g_current = this; }

SimDesktop::~SimDesktop() {
  if (ui_.joinable()) {
    {
      std::unique_lock lock(m_);
      if (!finished_) {
        abort_ = true;
        uiTurn_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return finished_; });
      }
    }
    ui_.join();
  }
  if (g_current == this) g_current = nullptr;
}

// ---------------------------------------------------------------- turns

void SimDesktop::Start(std::function<void()> program) {
  std::unique_lock lock(m_);
  running_ = true;
  uiTurn_ = true;
  ui_ = std::thread([this, program = std::move(program)] {
    {
      std::unique_lock l(m_);
      uiId_ = std::this_thread::get_id();
      cv_.wait(l, [this] { return uiTurn_; });
    }
    program();
    // Serve what is left, as a process would until it exits.
    std::unique_lock l(m_);
    finished_ = true;
    uiTurn_ = false;
    cv_.notify_all();
  });
  cv_.wait(lock, [this] { return !uiTurn_; });
}

bool SimDesktop::Finished() {
  std::unique_lock lock(m_);
  return finished_;
}

void SimDesktop::Do(std::function<void()> fn) {
  std::unique_lock lock(m_);
  if (!running_ || finished_ || std::this_thread::get_id() == uiId_) {
    lock.unlock();
    fn();
    return;
  }
  work_.push_back(std::move(fn));
  uiTurn_ = true;
  cv_.notify_all();
  cv_.wait(lock, [this] { return !uiTurn_; });
}

void SimDesktop::Park() {
  std::unique_lock lock(m_);
  uiTurn_ = false;
  cv_.notify_all();
  cv_.wait(lock, [this] { return uiTurn_; });
}

bool SimDesktop::ProcessOne() {
  if (!work_.empty()) {
    auto fn = std::move(work_.front());
    work_.pop_front();
    fn();
    return true;
  }
  if (!input_.empty()) {
    // Low-level hooks see input as it arrives, ahead of messages already
    // posted (as Windows calls them); while the playback hook is installed
    // the rest of the way is held back until it goes.
    PendingInput in = input_.front();
    input_.pop_front();
    if (PassesLowLevelHooks(in)) {
      if (FirstHook(WH_JOURNALPLAYBACK) != nullptr) {
        heldBack_.push_back(in);
      } else {
        Deliver(in);
      }
    }
    return true;
  }
  if (const auto p = posted_.Take()) {
    MSG msg{p->window, p->message, p->wParam, p->lParam, GetTickCount(), 0, 0};
    retrieved_.push_back(p->message);
    // A modal loop first looks at the message, then takes it: the
    // get-message hook sees it twice.
    if (Hook* h = FirstHook(WH_GETMESSAGE)) {
      MSG peeked = msg;
      h->proc(HC_ACTION, 0 /* only looked at */, reinterpret_cast<LParam>(&peeked));
    }
    if (Hook* h = FirstHook(WH_GETMESSAGE)) {
      h->proc(HC_ACTION, 1 /* removed from the queue */, reinterpret_cast<LParam>(&msg));
    }
    if (msg.hwnd != 0) {
      if (SimWindow* w = Window(msg.hwnd); w != nullptr && w->sink != nullptr) {
        w->sink->HandleMessage(msg.message, msg.wParam, msg.lParam);
      }
    }
    return true;
  }
  if (!heldBack_.empty() && FirstHook(WH_JOURNALPLAYBACK) == nullptr) {
    PendingInput in = heldBack_.front();
    heldBack_.pop_front();
    Deliver(in);
    return true;
  }
  if (playback_.Drive()) {
    QueueDueInput();
    return true;
  }
  if (QueueDueInput()) return true;
  if (now_ < timeTarget_) {
    std::uint64_t next = timeTarget_;
    const std::uint64_t due = playback_.DueNs() / 1'000'000u;
    if (FirstHook(WH_JOURNALPLAYBACK) != nullptr && due > now_) next = std::min(next, due);
    if (!scheduled_.empty()) next = std::min(next, std::max(now_, scheduled_.begin()->first));
    now_ = next;
    return true;
  }
  return false;
}

HookHandle SimDesktop::PlaybackHook() {
  const Hook* h = FirstHook(WH_JOURNALPLAYBACK);
  return h != nullptr ? h->handle : HookHandle{0};
}

LResult SimDesktop::CallPlaybackHook(int code, EVENTMSG* event) {
  return hooks_.CallFirst(WH_JOURNALPLAYBACK, code, 0, reinterpret_cast<LParam>(event));
}

bool SimDesktop::Process(const EVENTMSG& event) {
  processed_.push_back({event, now_});
  injected_.push_back({event, now_, false});
  return true;
}

std::uint64_t SimDesktop::AskAgainAfterMs(std::uint64_t waitMs) {
  if (earlyAsks_.empty() || earlyAsks_.front() >= waitMs) return waitMs;
  const std::uint64_t after = earlyAsks_.front();
  earlyAsks_.pop_front();
  return after;
}

bool SimDesktop::QueueDueInput() {
  bool any = false;
  while (!scheduled_.empty() && scheduled_.begin()->first <= now_) {
    PendingInput in = scheduled_.begin()->second;
    in.event.time = GetTickCount();
    input_.push_back(in);
    scheduled_.erase(scheduled_.begin());
    any = true;
  }
  return any;
}

bool SimDesktop::PassesLowLevelHooks(const PendingInput& in) {
  const std::uint32_t m = in.event.message;
  const bool key = m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP;
  if (!key) return true;
  Hook* h = FirstHook(WH_KEYBOARD_LL);
  if (h == nullptr) return true;
  KBDLLHOOKSTRUCT k{in.vk, in.scan, in.llFlags, in.event.time, 0};
  return h->proc(HC_ACTION, m, reinterpret_cast<LParam>(&k)) == 0;  // non-zero swallows
}

void SimDesktop::Deliver(const PendingInput& in) {
  if (Hook* h = FirstHook(WH_JOURNALRECORD)) {
    EVENTMSG e = in.event;
    h->proc(HC_ACTION, 0, reinterpret_cast<LParam>(&e));
  }
  delivered_.push_back(in.event);
}

// ---------------------------------------------------------------- hooks

SimDesktop::Hook* SimDesktop::FirstHook(int kind) { return hooks_.First(kind); }

HookHandle SimDesktop::SetWindowsHookEx(int kind, HookProc proc) {
  ++hookInstalls_[kind];
  if (proc == nullptr ||
      std::find(failingHooks_.begin(), failingHooks_.end(), kind) != failingHooks_.end()) {
    return 0;
  }
  const HookHandle handle = hooks_.Install(kind, proc);
  trace_.push_back("hook " + std::to_string(kind));
  if (kind == WH_JOURNALPLAYBACK) playback_.Reset();
  return handle;
}

bool SimDesktop::UnhookWindowsHookEx(HookHandle hook) {
  ++removeCalls_;
  return hooks_.Remove(hook);
}

LResult SimDesktop::CallNextHookEx(HookHandle hook, int code, WParam wParam, LParam lParam) {
  return hooks_.CallNext(hook, code, wParam, lParam);
}

// ---------------------------------------------------------------- time

std::uint32_t SimDesktop::GetTickCount() { return static_cast<std::uint32_t>(now_); }

void SimDesktop::Sleep(std::uint32_t milliseconds) { now_ += milliseconds; }

// ---------------------------------------------------------------- named mutex

MutexHandle SimDesktop::CreateMutex(const std::string& name) {
  if (failMutex_) return 0;
  for (std::size_t i = 0; i < mutexes_.size(); ++i) {
    if (mutexes_[i].name == name) return i + 1;
  }
  mutexes_.push_back({name, 0, false});
  return mutexes_.size();
}

std::uint32_t SimDesktop::WaitForSingleObject(MutexHandle mutex, std::uint32_t milliseconds) {
  if (mutex == 0 || mutex > mutexes_.size()) return WAIT_FAILED;
  ++mutexWaits_;
  lastWaitTimeout_ = milliseconds;
  NamedMutex& mx = mutexes_[mutex - 1];
  if (mx.heldElsewhere) {
    now_ += milliseconds;
    return WAIT_TIMEOUT;
  }
  ++mx.ownCount;
  return std::exchange(mx.abandoned, false) ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

bool SimDesktop::ReleaseMutex(MutexHandle mutex) {
  if (mutex == 0 || mutex > mutexes_.size()) return false;
  NamedMutex& mx = mutexes_[mutex - 1];
  if (mx.ownCount == 0) return false;
  --mx.ownCount;
  return true;
}

void SimDesktop::CloseHandle(MutexHandle) {}

void SimDesktop::AbandonMutex(const std::string& name) {
  for (auto& mx : mutexes_) {
    if (mx.name == name) {
      mx.heldElsewhere = false;
      mx.abandoned = true;
      return;
    }
  }
  mutexes_.push_back({name, 0, false, true});
}

int SimDesktop::MutexOwnCount(const std::string& name) const {
  for (const auto& mx : mutexes_) {
    if (mx.name == name) return mx.ownCount;
  }
  return 0;
}

// ---------------------------------------------------------------- libraries

int SimDesktop::SimSetLayeredWindowAttributes(WindowId window, std::uint32_t colorKey,
                                              std::uint8_t alpha, std::uint32_t flags) {
  if (g_current == nullptr) return 0;
  SimWindow* w = g_current->Window(window);
  if (w == nullptr || (w->exStyle & WS_EX_LAYERED) == 0) return 0;
  w->colorKey = colorKey;
  w->alpha = alpha;
  w->layeredFlags = flags;
  ++w->layeredCalls;
  return 1;
}

ModuleHandle SimDesktop::LoadLibrary(const std::string& name) {
  if (failLibrary_ || name != "USER32.dll") return 0;
  ++loadedModules_;
  return 0x7700;
}

ProcAddress SimDesktop::GetProcAddress(ModuleHandle module, const std::string& name) {
  if (module != 0x7700 || failFunction_ || name != "SetLayeredWindowAttributes") return nullptr;
  return reinterpret_cast<ProcAddress>(&SimSetLayeredWindowAttributes);
}

void SimDesktop::FreeLibrary(ModuleHandle module) {
  if (module == 0x7700) {
    ++freeLibraryCalls_;
    --loadedModules_;
  }
}

}  // namespace vesk::sim
