// Following the keys and buttons replayed input holds down, and releasing them.
#include "engine/held_input.h"

#include <algorithm>

namespace vesk {

namespace {

bool IsKeyDown(std::uint32_t m) { return m == WM_KEYDOWN || m == WM_SYSKEYDOWN; }
bool IsKeyUp(std::uint32_t m) { return m == WM_KEYUP || m == WM_SYSKEYUP; }
bool IsButtonDown(std::uint32_t m) {
  return m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || m == WM_MBUTTONDOWN || m == WM_XBUTTONDOWN;
}
bool IsButtonUp(std::uint32_t m) {
  return m == WM_LBUTTONUP || m == WM_RBUTTONUP || m == WM_MBUTTONUP || m == WM_XBUTTONUP;
}

// A button is its press message, and for the side buttons which one.
bool SameButton(const EVENTMSG& press, std::uint32_t downMessage, std::uint32_t side) {
  return press.message == downMessage && (downMessage != WM_XBUTTONDOWN || press.hwnd == side);
}

// A key is the same key when its scan code, virtual-key code and extended
// flag agree: left and right Shift are two keys.
std::uint32_t KeyIdentity(const EVENTMSG& e) {
  return (e.paramL & 0xFFFFu) | ((e.paramH & 0x8000u) != 0 ? 0x10000u : 0u);
}

}  // namespace

bool IsMouseMessage(std::uint32_t message) {
  return message >= WM_MOUSEMOVE && message <= WM_MOUSEHWHEEL;
}

void HeldInput::Track(const EVENTMSG& e) {
  const std::uint32_t m = e.message;
  if (IsMouseMessage(m)) {
    pointerKnown_ = true;
    pointerX_ = e.paramL;
    pointerY_ = e.paramH;
  }
  if (IsKeyDown(m)) {
    const std::uint32_t id = KeyIdentity(e);
    const bool held = std::any_of(presses_.begin(), presses_.end(), [&](const EVENTMSG& p) {
      return IsKeyDown(p.message) && KeyIdentity(p) == id;
    });
    if (!held) presses_.push_back(e);  // auto-repeat presses nothing new
  } else if (IsButtonDown(m)) {
    std::erase_if(presses_, [&](const EVENTMSG& p) { return SameButton(p, m, e.hwnd); });
    presses_.push_back(e);
  } else if (IsKeyUp(m)) {
    const std::uint32_t id = KeyIdentity(e);
    auto it = std::find_if(presses_.rbegin(), presses_.rend(), [&](const EVENTMSG& p) {
      return IsKeyDown(p.message) && KeyIdentity(p) == id;
    });
    if (it == presses_.rend()) {
      // A journal from another path may spell the release differently:
      // the virtual-key code alone decides then.
      it = std::find_if(presses_.rbegin(), presses_.rend(), [&](const EVENTMSG& p) {
        return IsKeyDown(p.message) && (p.paramL & 0xFFu) == (e.paramL & 0xFFu);
      });
    }
    if (it != presses_.rend()) presses_.erase(std::next(it).base());
  } else if (IsButtonUp(m)) {
    const std::uint32_t down = m - 1;  // every button's up message follows its down
    std::erase_if(presses_, [&](const EVENTMSG& p) { return SameButton(p, down, e.hwnd); });
  }
}

std::vector<EVENTMSG> HeldInput::ReleaseEvents() const {
  std::vector<EVENTMSG> out;
  for (auto it = presses_.rbegin(); it != presses_.rend(); ++it) {
    EVENTMSG e = *it;
    e.time = 0;
    e.message = e.message + 1;  // WM_KEYUP, WM_SYSKEYUP and the buttons' up follow their down
    if (IsMouseMessage(e.message) && pointerKnown_) {
      e.paramL = pointerX_;
      e.paramH = pointerY_;
    }
    out.push_back(e);
  }
  return out;
}

std::vector<EVENTMSG> HeldInput::PressEvents() const {
  std::vector<EVENTMSG> out;
  const bool buttons = std::any_of(presses_.begin(), presses_.end(),
                                   [](const EVENTMSG& p) { return IsButtonDown(p.message); });
  if (buttons && pointerKnown_) out.push_back({WM_MOUSEMOVE, pointerX_, pointerY_, 0, 0});
  for (EVENTMSG e : presses_) {
    e.time = 0;
    if (IsMouseMessage(e.message) && pointerKnown_) {
      e.paramL = pointerX_;
      e.paramH = pointerY_;
    }
    out.push_back(e);
  }
  return out;
}

}  // namespace vesk
