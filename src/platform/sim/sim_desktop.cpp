#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <utility>

namespace vesk::sim {

namespace {
SimDesktop* g_current = nullptr;  // for the layered-window function pointer

constexpr int kDialogUnitX = 2;  // pixels per horizontal dialog unit in the model
constexpr int kDialogUnitY = 2;
}  // namespace

SimControl* SimWindow::Find(int controlId) {
  for (auto& c : controls) {
    if (c.id == controlId) return &c;
  }
  return nullptr;
}

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
  if (!posted_.empty()) {
    Posted p = posted_.front();
    posted_.pop_front();
    MSG msg{p.window, p.message, p.wParam, p.lParam, GetTickCount(), 0, 0};
    retrieved_.push_back(p.message);
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
  if (DrivePlayback()) {
    QueueDueInput();
    return true;
  }
  if (QueueDueInput()) return true;
  if (now_ < timeTarget_) {
    std::uint64_t next = timeTarget_;
    if (FirstHook(WH_JOURNALPLAYBACK) != nullptr && playbackDue_ > now_) {
      next = std::min(next, playbackDue_);
    }
    if (!scheduled_.empty()) next = std::min(next, std::max(now_, scheduled_.begin()->first));
    now_ = next;
    return true;
  }
  return false;
}

bool SimDesktop::DrivePlayback() {
  Hook* h = FirstHook(WH_JOURNALPLAYBACK);
  if (h == nullptr) {
    playbackWaiting_ = false;
    return false;
  }
  if (playbackWaiting_ && now_ < playbackDue_) return false;
  EVENTMSG e{};
  const LResult wait = h->proc(HC_GETNEXT, 0, reinterpret_cast<LParam>(&e));
  if (FirstHook(WH_JOURNALPLAYBACK) == nullptr) {  // the procedure removed itself
    playbackWaiting_ = false;
    return true;
  }
  if (wait > 0) {
    playbackWaiting_ = true;
    std::uint64_t after = static_cast<std::uint64_t>(wait);
    if (!earlyAsks_.empty() && earlyAsks_.front() < after) {
      after = earlyAsks_.front();
      earlyAsks_.pop_front();
    }
    playbackDue_ = now_ + after;
    return true;
  }
  playbackWaiting_ = false;
  processed_.push_back({e, now_});
  injected_.push_back({e, now_, false});
  if (Hook* again = FirstHook(WH_JOURNALPLAYBACK)) again->proc(HC_SKIP, 0, 0);
  return true;
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

// ---------------------------------------------------------------- test actions

void SimDesktop::Notify(SimWindow& w, int controlId, std::uint32_t code) {
  if (w.sink != nullptr) w.sink->HandleMessage(WM_COMMAND, MakeCommandWParam(controlId, code), 0);
}

void SimDesktop::Click(WindowId window, int controlId) {
  Do([this, window, controlId] {
    SimWindow* w = Window(window);
    if (w == nullptr) return Surprise("click on a window that does not exist");
    SimControl* c = w->Find(controlId);
    if (c == nullptr || !c->enabled) return;
    if (c->kind == ControlKind::CheckBox) c->checked = !c->checked;
    if (c->kind == ControlKind::RadioButton) {
      // Automatic radio buttons: the run of radio buttons around it is one group.
      auto it = std::find_if(w->controls.begin(), w->controls.end(),
                             [&](const SimControl& x) { return x.id == controlId; });
      auto first = it;
      while (first != w->controls.begin() && (first - 1)->kind == ControlKind::RadioButton) --first;
      for (auto r = first; r != w->controls.end() && r->kind == ControlKind::RadioButton; ++r) {
        r->checked = r->id == controlId;
      }
    }
    Notify(*w, controlId, BN_CLICKED);
  });
}

void SimDesktop::TypeText(WindowId window, int controlId, const std::string& text) {
  Do([this, window, controlId, text] {
    SimWindow* w = Window(window);
    SimControl* c = w != nullptr ? w->Find(controlId) : nullptr;
    if (c == nullptr || !c->enabled || (c->style & style::ES_READONLY) != 0) return;
    c->text = text;
    Notify(*w, controlId, EN_CHANGE);
  });
}

void SimDesktop::Spin(WindowId window, int controlId, int delta) {
  Do([this, window, controlId, delta] {
    SimWindow* w = Window(window);
    SimControl* c = w != nullptr ? w->Find(controlId) : nullptr;
    if (c == nullptr || !c->enabled) return;
    long long next = static_cast<long long>(c->pos) + delta;
    const bool wrap = (c->style & style::UDS_WRAP) != 0;
    if (next > c->high) next = wrap ? c->low : c->high;
    if (next < c->low) next = wrap ? c->high : c->low;
    UpDownSetPos(window, controlId, static_cast<int>(next));
  });
}

void SimDesktop::PressEscape(WindowId window) {
  Do([this, window] {
    if (SimWindow* w = Window(window)) Notify(*w, IDCANCEL, BN_CLICKED);
  });
}

void SimDesktop::PressEnter(WindowId window) {
  Do([this, window] {
    SimWindow* w = Window(window);
    if (w == nullptr) return;
    const int id = DefaultButtonOf(*w->tmpl);
    SimControl* c = w->Find(id);
    if (c != nullptr && c->enabled) Notify(*w, id, BN_CLICKED);
  });
}

void SimDesktop::CloseBox(WindowId window) {
  Do([this, window] {
    if (SimWindow* w = Window(window); w != nullptr && w->sink != nullptr) {
      w->sink->HandleMessage(WM_CLOSE, 0, 0);
    }
  });
}

void SimDesktop::Minimise(WindowId window) {
  Do([this, window] {
    if (SimWindow* w = Window(window); w != nullptr && w->sink != nullptr) {
      w->iconic = true;
      w->sink->HandleMessage(WM_PAINT, 0, 0);
    }
  });
}

void SimDesktop::Input(const EVENTMSG& event, std::uint32_t vk, std::uint32_t scan) {
  Do([this, event, vk, scan] {
    PendingInput in{event, vk, scan, 0};
    in.event.time = GetTickCount();
    if ((event.paramH & 0x8000u) != 0) in.llFlags |= 0x01;  // LLKHF_EXTENDED
    if (event.message == WM_KEYUP || event.message == WM_SYSKEYUP) in.llFlags |= 0x80;
    input_.push_back(in);
  });
}

void SimDesktop::MouseMove(int x, int y) {
  Input({WM_MOUSEMOVE, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0, 0});
}

void SimDesktop::MouseButton(std::uint32_t message, int x, int y) {
  Input({message, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0, 0});
}

void SimDesktop::Wheel(int x, int y, int delta) {
  // The wheel's direction travels in the window handle field of the record.
  Input({WM_MOUSEWHEEL, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0,
         static_cast<std::uint32_t>(delta)});
}

void SimDesktop::KeyDown(std::uint32_t vk, std::uint32_t scan, bool extended, bool sys) {
  Input({sys ? WM_SYSKEYDOWN : WM_KEYDOWN, (scan << 8) | vk, 1u | (extended ? 0x8000u : 0u), 0, 0},
        vk, scan);
}

void SimDesktop::KeyUp(std::uint32_t vk, std::uint32_t scan, bool extended, bool sys) {
  Input({sys ? WM_SYSKEYUP : WM_KEYUP, (scan << 8) | vk, 1u | (extended ? 0x8000u : 0u), 0, 0}, vk,
        scan);
}

void SimDesktop::CtrlBreak() {
  KeyDown(VK_CONTROL, 0x1D);
  KeyDown(VK_CANCEL, 0x46, true);
  KeyUp(VK_CANCEL, 0x46, true);
  KeyUp(VK_CONTROL, 0x1D);
}

void SimDesktop::CtrlBreakAt(std::uint64_t at) {
  Do([this, at] {
    const auto key = [&](std::uint32_t message, std::uint32_t vk, std::uint32_t scan, bool ext) {
      PendingInput in{{message, (scan << 8) | vk, 1u | (ext ? 0x8000u : 0u), 0, 0}, vk, scan, 0};
      if (ext) in.llFlags |= 0x01;
      if (message == WM_KEYUP) in.llFlags |= 0x80;
      scheduled_.emplace(at, in);
    };
    key(WM_KEYDOWN, VK_CONTROL, 0x1D, false);
    key(WM_KEYDOWN, VK_CANCEL, 0x46, true);
    key(WM_KEYUP, VK_CANCEL, 0x46, true);
    key(WM_KEYUP, VK_CONTROL, 0x1D, false);
  });
}

void SimDesktop::CancelJournal(std::string reason) {
  Do([this, reason = std::move(reason)] {
    for (auto& h : hooks_) {
      if (h.alive && (h.kind == WH_JOURNALRECORD || h.kind == WH_JOURNALPLAYBACK)) h.alive = false;
    }
    cancelReason_ = reason;
    posted_.push_back({0, WM_CANCELJOURNAL, 0, 0});
  });
}

void SimDesktop::CtrlEsc() { CancelJournal({}); }

void SimDesktop::Advance(std::uint32_t milliseconds) {
  Do([this, milliseconds] { timeTarget_ = now_ + milliseconds; });
}

void SimDesktop::AskAgainEarly(std::uint32_t afterMs, int times) {
  Do([this, afterMs, times] {
    for (int i = 0; i < times; ++i) earlyAsks_.push_back(afterMs);
  });
}

std::uint32_t SimDesktop::SendInput(const std::vector<EVENTMSG>& events) {
  std::uint32_t sent = 0;
  for (const EVENTMSG& e : events) {
    if (sendLimit_ >= 0 && sent >= static_cast<std::uint32_t>(sendLimit_)) break;
    injected_.push_back({e, now_, true});
    ++sent;
  }
  return sent;
}

std::vector<std::uint32_t> SimDesktop::HeldKeys() const {
  std::vector<std::uint32_t> held;
  for (const InjectedEvent& in : injected_) {
    const std::uint32_t m = in.event.message;
    const std::uint32_t vk = in.event.paramL & 0xFFu;
    if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) {
      if (std::find(held.begin(), held.end(), vk) == held.end()) held.push_back(vk);
    } else if (m == WM_KEYUP || m == WM_SYSKEYUP) {
      std::erase(held, vk);
    }
  }
  return held;
}

std::vector<std::uint32_t> SimDesktop::HeldButtons() const {
  std::vector<std::uint32_t> held;
  for (const InjectedEvent& in : injected_) {
    const std::uint32_t m = in.event.message;
    if (m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || m == WM_MBUTTONDOWN) {
      if (std::find(held.begin(), held.end(), m) == held.end()) held.push_back(m);
    } else if (m == WM_LBUTTONUP || m == WM_RBUTTONUP || m == WM_MBUTTONUP) {
      std::erase(held, m - 1);
    }
  }
  return held;
}

void SimDesktop::FailHook(int kind, bool fail) {
  failingHooks_.erase(std::remove(failingHooks_.begin(), failingHooks_.end(), kind),
                      failingHooks_.end());
  if (fail) failingHooks_.push_back(kind);
}

void SimDesktop::HoldMutexElsewhere(const std::string& name, bool held) {
  for (auto& mx : mutexes_) {
    if (mx.name == name) {
      mx.heldElsewhere = held;
      return;
    }
  }
  mutexes_.push_back({name, 0, held});
}

// ---------------------------------------------------------------- reading back

SimWindow* SimDesktop::Window(WindowId id) {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : it->second.get();
}

WindowId SimDesktop::FindWindow(int templateId) {
  WindowId found = 0;
  for (auto& [id, w] : windows_) {
    if (w->tmpl->id == templateId) found = id;
  }
  if (found == 0) {  // a program that already ended: its last window
    for (auto& [id, w] : closed_) {
      if (w->tmpl->id == templateId) found = id;
    }
  }
  return found;
}

std::vector<std::string> SimDesktop::LogLines(WindowId window) {
  SimWindow* w = Window(window);
  if (w == nullptr && closed_.count(window) != 0) w = closed_[window].get();
  SimControl* c = w != nullptr ? w->Find(IDC_LOG) : nullptr;
  return c != nullptr ? c->lines : std::vector<std::string>{};
}

bool SimDesktop::HookInstalled(int kind) const {
  return std::any_of(hooks_.begin(), hooks_.end(),
                     [kind](const Hook& h) { return h.alive && h.kind == kind; });
}

int SimDesktop::HookInstallCount(int kind) const {
  auto it = hookInstalls_.find(kind);
  return it == hookInstalls_.end() ? 0 : it->second;
}

// ---------------------------------------------------------------- windows

WindowId SimDesktop::CreateDialogWindow(const DialogTemplate& tmpl, WindowId parent,
                                        WindowSink* sink) {
  auto w = std::make_unique<SimWindow>();
  w->id = nextWindow_++;
  w->tmpl = &tmpl;
  w->parent = parent;
  w->sink = sink;
  w->title = tmpl.caption;
  if ((tmpl.style & style::DS_SYSMODAL) != 0) w->exStyle |= WS_EX_TOPMOST;
  int previous = 0;
  for (const auto& ct : tmpl.controls) {
    SimControl c;
    c.id = ct.id;
    c.kind = ct.kind;
    c.style = ct.style;
    c.text = ct.text;
    c.enabled = (ct.style & style::WS_DISABLED) == 0;
    if (ct.kind == ControlKind::UpDown && (ct.style & style::UDS_AUTOBUDDY) != 0)
      c.buddy = previous;
    w->controls.push_back(std::move(c));
    previous = ct.id;
  }
  const WindowId id = w->id;
  windows_[id] = std::move(w);
  return id;
}

void SimDesktop::DestroyWindow(WindowId window) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  // Kept for reading back what it showed last; no longer reachable.
  it->second->sink = nullptr;
  closed_[window] = std::move(it->second);
  windows_.erase(it);
  std::erase_if(posted_, [window](const Posted& p) { return p.window == window; });
}

int SimDesktop::RunModalLoop(WindowId window) {
  SimWindow* w = Window(window);
  if (w == nullptr) return -1;
  w->visible = (w->tmpl->style & style::WS_VISIBLE) != 0;
  w->modalRunning = true;
  while (true) {
    w = Window(window);
    if (w == nullptr) return -1;
    if (w->modalEnded) break;
    if (abort_) return IDCANCEL;
    if (!ProcessOne()) Park();
  }
  w->modalRunning = false;
  w->modalEnded = false;
  w->visible = false;
  return w->modalResult;
}

void SimDesktop::EndModalLoop(WindowId window, int result) {
  if (SimWindow* w = Window(window)) {
    w->modalEnded = true;
    w->modalResult = result;
  }
}

void SimDesktop::SetWindowText(WindowId window, const std::string& text) {
  if (SimWindow* w = Window(window)) w->title = text;
}

std::string SimDesktop::GetWindowText(WindowId window) {
  SimWindow* w = Window(window);
  return w != nullptr ? w->title : std::string{};
}

std::uint32_t SimDesktop::GetWindowLong(WindowId window, int index) {
  SimWindow* w = Window(window);
  return w != nullptr && index == GWL_EXSTYLE ? w->exStyle : 0;
}

std::uint32_t SimDesktop::SetWindowLong(WindowId window, int index, std::uint32_t value) {
  SimWindow* w = Window(window);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  return std::exchange(w->exStyle, value);
}

void SimDesktop::UpdateWindow(WindowId window) {
  if (SimWindow* w = Window(window)) {
    ++w->repaints;
    w->titleAtLastRepaint = w->title;
  }
}

void SimDesktop::SetIcon(WindowId window, int iconResource, bool big) {
  if (SimWindow* w = Window(window)) (big ? w->bigIcon : w->smallIcon) = iconResource;
}

bool SimDesktop::IsIconic(WindowId window) {
  SimWindow* w = Window(window);
  return w != nullptr && w->iconic;
}

void SimDesktop::PaintIconic(WindowId window, int, int x, int y) {
  if (SimWindow* w = Window(window)) {
    w->iconX = x;
    w->iconY = y;
  }
}

void SimDesktop::GetClientSize(WindowId window, int* width, int* height) {
  SimWindow* w = Window(window);
  *width = w != nullptr ? w->tmpl->cx * kDialogUnitX : 0;
  *height = w != nullptr ? w->tmpl->cy * kDialogUnitY : 0;
}

int SimDesktop::GetSystemMetrics(int index) {
  return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

// ---------------------------------------------------------------- controls

bool SimDesktop::HasControl(WindowId window, int id) {
  SimWindow* w = Window(window);
  return w != nullptr && w->Find(id) != nullptr;
}

void SimDesktop::EnableControl(WindowId window, int id, bool enable) {
  SimWindow* w = Window(window);
  if (SimControl* c = w != nullptr ? w->Find(id) : nullptr) c->enabled = enable;
}

bool SimDesktop::IsControlEnabled(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr && c->enabled;
}

void SimDesktop::SetControlText(WindowId window, int id, const std::string& text) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return;
  c->text = text;
  if (c->kind == ControlKind::Edit) Notify(*w, id, EN_CHANGE);
}

std::string SimDesktop::GetControlText(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? c->text : std::string{};
}

void SimDesktop::SetCheck(WindowId window, int id, bool checked) {
  SimWindow* w = Window(window);
  if (SimControl* c = w != nullptr ? w->Find(id) : nullptr) c->checked = checked;
}

bool SimDesktop::GetCheck(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr && c->checked;
}

int SimDesktop::ListAddString(WindowId window, int id, const std::string& text) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return -1;
  c->lines.push_back(text);
  return static_cast<int>(c->lines.size()) - 1;
}

int SimDesktop::ListGetCount(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? static_cast<int>(c->lines.size()) : 0;
}

void SimDesktop::ListSetCurSel(WindowId window, int id, int index) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return;
  c->curSel = index >= 0 && index < static_cast<int>(c->lines.size()) ? index : -1;
}

int SimDesktop::ListGetCurSel(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? c->curSel : -1;
}

std::string SimDesktop::ListGetText(WindowId window, int id, int index) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->lines.size())) return {};
  return c->lines[static_cast<std::size_t>(index)];
}

void SimDesktop::UpDownSetRange(WindowId window, int id, int low, int high) {
  SimWindow* w = Window(window);
  if (SimControl* c = w != nullptr ? w->Find(id) : nullptr) {
    c->low = low;
    c->high = high;
  }
}

void SimDesktop::UpDownSetPos(WindowId window, int id, int pos) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  if (c == nullptr) return;
  c->pos = std::clamp(pos, c->low, c->high);
  if (c->buddy != 0 && (c->style & style::UDS_SETBUDDYINT) != 0) {
    SetControlText(window, c->buddy, std::to_string(c->pos));
  }
}

int SimDesktop::UpDownGetPos(WindowId window, int id) {
  SimWindow* w = Window(window);
  SimControl* c = w != nullptr ? w->Find(id) : nullptr;
  return c != nullptr ? c->pos : 0;
}

// ---------------------------------------------------------------- messages

std::uint32_t SimDesktop::RegisterWindowMessage(const std::string& name) {
  auto [it, inserted] = registered_.try_emplace(
      name, WM_REGISTERED_FIRST + static_cast<std::uint32_t>(registered_.size()));
  return it->second;
}

bool SimDesktop::PostMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) {
  if (window != 0 && Window(window) == nullptr) return false;
  posted_.push_back({window, message, wParam, lParam});
  return true;
}

std::optional<std::string> SimDesktop::ShowFileDialog(WindowId, const FileDialogRequest& request) {
  fileDialogs_.push_back(request);
  if (fileAnswers_.empty()) {
    Surprise("file dialog without a scripted answer: " + request.title);
    return std::nullopt;
  }
  auto answer = fileAnswers_.front();
  fileAnswers_.pop_front();
  return answer;
}

int SimDesktop::MessageBox(WindowId owner, const std::string& text, const std::string& caption,
                           std::uint32_t style) {
  boxes_.push_back({owner, text, caption, style});
  if (boxAnswers_.empty()) {
    Surprise("message box without a scripted answer: " + text);
    return IDNO;
  }
  const int answer = boxAnswers_.front();
  boxAnswers_.pop_front();
  return answer;
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

// ---------------------------------------------------------------- hooks

SimDesktop::Hook* SimDesktop::FirstHook(int kind) {
  for (auto it = hooks_.rbegin(); it != hooks_.rend(); ++it) {
    if (it->alive && it->kind == kind) return &*it;
  }
  return nullptr;
}

HookHandle SimDesktop::SetWindowsHookEx(int kind, HookProc proc) {
  ++hookInstalls_[kind];
  if (proc == nullptr ||
      std::find(failingHooks_.begin(), failingHooks_.end(), kind) != failingHooks_.end()) {
    return 0;
  }
  const HookHandle handle = nextHook_++;
  hooks_.push_back({handle, kind, proc, true});
  if (kind == WH_JOURNALPLAYBACK) playbackWaiting_ = false;
  return handle;
}

bool SimDesktop::UnhookWindowsHookEx(HookHandle hook) {
  ++removeCalls_;
  for (auto& h : hooks_) {
    if (h.handle == hook && h.alive) {
      h.alive = false;
      return true;
    }
  }
  return false;
}

LResult SimDesktop::CallNextHookEx(HookHandle hook, int code, WParam wParam, LParam lParam) {
  // The chain runs from the newest hook to the oldest.
  auto it = std::find_if(hooks_.rbegin(), hooks_.rend(),
                         [hook](const Hook& h) { return h.handle == hook; });
  if (it == hooks_.rend()) return 0;
  const int kind = it->kind;
  for (++it; it != hooks_.rend(); ++it) {
    if (it->alive && it->kind == kind) return it->proc(code, wParam, lParam);
  }
  return 0;
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
  return WAIT_OBJECT_0;
}

bool SimDesktop::ReleaseMutex(MutexHandle mutex) {
  if (mutex == 0 || mutex > mutexes_.size()) return false;
  NamedMutex& mx = mutexes_[mutex - 1];
  if (mx.ownCount == 0) return false;
  --mx.ownCount;
  return true;
}

void SimDesktop::CloseHandle(MutexHandle) {}

}  // namespace vesk::sim
