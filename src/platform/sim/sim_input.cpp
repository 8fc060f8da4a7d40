// The simulated desktop's user: clicks, keys and input, the clock, the
// system's own cancelling of the journal hooks, input sent at once.
#include <algorithm>
#include <utility>

#include "platform/sim/sim_desktop.h"

namespace vesk::sim {

// ---------------------------------------------------------------- test actions

void SimDesktop::Notify(SimWindow& w, int controlId, std::uint32_t code) {
  if (w.sink != nullptr) w.sink->HandleMessage(WM_COMMAND, MakeCommandWParam(controlId, code), 0);
}

void SimDesktop::ClickControl(SimWindow& w, SimControl& c) {
  if (!c.enabled) return;
  const int controlId = c.id;
  if (c.kind == ControlKind::CheckBox) c.checked = !c.checked;
  if (c.kind == ControlKind::RadioButton) {
    // Automatic radio buttons: the run of radio buttons around it is one group.
    auto it = std::find_if(w.controls.begin(), w.controls.end(),
                           [&](const SimControl& x) { return x.id == controlId; });
    auto first = it;
    while (first != w.controls.begin() && (first - 1)->kind == ControlKind::RadioButton) --first;
    for (auto r = first; r != w.controls.end() && r->kind == ControlKind::RadioButton; ++r) {
      r->checked = r->id == controlId;
    }
  }
  Notify(w, controlId, BN_CLICKED);
}

SimWindow* SimDesktop::WindowAt(int x, int y) {
  // Topmost windows, and the windows they own, lie above the others; within
  // each band, the window shown last is in front. A layered click-through
  // window is not there for the mouse.
  const auto inTopBand = [this](const SimWindow* w) {
    for (int depth = 0; w != nullptr && depth < 64; ++depth, w = Window(w->parent)) {
      if ((w->exStyle & WS_EX_TOPMOST) != 0) return true;
    }
    return false;
  };
  for (const bool topmost : {true, false}) {
    for (auto it = zOrder_.rbegin(); it != zOrder_.rend(); ++it) {
      SimWindow* w = Window(*it);
      if (w == nullptr || !w->visible || inTopBand(w) != topmost) continue;
      const std::uint32_t clickThrough = WS_EX_LAYERED | WS_EX_TRANSPARENT;
      if ((w->exStyle & clickThrough) == clickThrough) continue;
      if (w->Contains(x, y)) return w;
    }
  }
  return nullptr;
}

void SimDesktop::DesktopClick(int x, int y) {
  // Nothing of the program's is there: the click is mouse input that the
  // hooks see like any other.
  focus_ = 0;
  const auto ux = static_cast<std::uint32_t>(x);
  const auto uy = static_cast<std::uint32_t>(y);
  for (const std::uint32_t m : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP}) {
    PendingInput in{{m, ux, uy, GetTickCount(), 0}, 0, 0, 0};
    input_.push_back(in);
  }
}

void SimDesktop::Click(WindowId window, int controlId) {
  Do([this, window, controlId] {
    SimWindow* w = Window(window);
    if (w == nullptr) return Surprise("click on a window that does not exist");
    SimControl* c = w->Find(controlId);
    if (c == nullptr) return Surprise("click on a control that does not exist");
    if (!w->visible) return Surprise("click on a window that is not shown");
    int r[4];
    w->ControlRect(*c, r);
    const int x = (r[0] + r[2]) / 2;
    const int y = (r[1] + r[3]) / 2;
    SimWindow* hit = WindowAt(x, y);
    if (hit == nullptr) return DesktopClick(x, y);
    if (hit->disabled) return;  // a window behind a modal one takes no clicks
    focus_ = hit->id;
    if (SimControl* target = hit == w ? c : hit->ControlAt(x, y)) ClickControl(*hit, *target);
  });
}

void SimDesktop::ClickAt(int x, int y) {
  Do([this, x, y] {
    SimWindow* hit = WindowAt(x, y);
    if (hit == nullptr) return DesktopClick(x, y);
    if (hit->disabled) return;
    focus_ = hit->id;
    if (SimControl* target = hit->ControlAt(x, y)) ClickControl(*hit, *target);
  });
}

void SimDesktop::TypeText(WindowId window, int controlId, const std::string& text) {
  Do([this, window, controlId, text] {
    SimWindow* w = Window(window);
    SimControl* c = w != nullptr ? w->Find(controlId) : nullptr;
    if (c == nullptr || w->disabled || !c->enabled || (c->style & style::ES_READONLY) != 0) {
      return;
    }
    focus_ = window;
    c->text = text;
    Notify(*w, controlId, EN_CHANGE);
  });
}

void SimDesktop::Spin(WindowId window, int controlId, int delta) {
  Do([this, window, controlId, delta] {
    SimWindow* w = Window(window);
    SimControl* c = w != nullptr ? w->Find(controlId) : nullptr;
    if (c == nullptr || w->disabled || !c->enabled) return;
    long long next = static_cast<long long>(c->pos) + delta;
    const bool wrap = (c->style & style::UDS_WRAP) != 0;
    if (next > c->high) next = wrap ? c->low : c->high;
    if (next < c->low) next = wrap ? c->high : c->low;
    UpDownSetPos(window, controlId, static_cast<int>(next));
  });
}

void SimDesktop::PressEscape() {
  Do([this] {
    SimWindow* w = Window(focus_);
    if (w != nullptr && !w->disabled) Notify(*w, IDCANCEL, BN_CLICKED);
  });
}

void SimDesktop::PressEnter() {
  Do([this] {
    SimWindow* w = Window(focus_);
    if (w == nullptr || w->disabled) return;
    const int id = DefaultButtonOf(*w->tmpl);
    SimControl* c = w->Find(id);
    if (c != nullptr && c->enabled) Notify(*w, id, BN_CLICKED);
  });
}

void SimDesktop::CloseBox(WindowId window) {
  Do([this, window] {
    if (SimWindow* w = Window(window); w != nullptr && w->sink != nullptr && !w->disabled) {
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
    hooks_.Drop(WH_JOURNALRECORD);
    hooks_.Drop(WH_JOURNALPLAYBACK);
    cancelReason_ = reason;
    posted_.Post(0, WM_CANCELJOURNAL, 0, 0);
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
    // As the real systems do: what is no mouse or key message is not input,
    // neither sent nor counted.
    const bool mouse = e.message >= WM_MOUSEMOVE && e.message <= WM_MOUSEWHEEL;
    const bool key = e.message >= WM_KEYDOWN && e.message <= WM_SYSKEYUP;
    if (!mouse && !key) continue;
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

}  // namespace vesk::sim
