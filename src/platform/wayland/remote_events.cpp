// Journal records as remote-input events, and the choice of replay path.
#include "platform/wayland/remote_events.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "platform/x11/key_map.h"

namespace vesk::wayland {
namespace {

bool NonEmpty(const char* s) { return s != nullptr && *s != '\0'; }

constexpr std::int32_t kLongestWheel = 20 * 120;

// X key codes are evdev codes offset by 8 on every X server of a Linux desktop.
constexpr unsigned kXKeycodeOffset = 8;

// Virtual-key code to scan code on a US keyboard: the reverse of the table
// the X11 path already has, for records that carry no scan code.
x11::ScanCode ScanFromVkUs(std::uint32_t vk) {
  static const auto table = [] {
    std::array<x11::ScanCode, 256> t{};
    for (int extended = 1; extended >= 0; --extended) {
      for (std::uint32_t code = 0x7F; code >= 1; --code) {
        const x11::ScanCode scan{code, extended != 0};
        const std::uint32_t v = x11::VkFromScanUs(scan);
        if (v != 0 && v < t.size()) t[v] = scan;
      }
    }
    return t;
  }();
  return vk < table.size() ? table[vk] : x11::ScanCode{};
}

}  // namespace

SessionKind DetectSession(const std::function<const char*(const char*)>& getenv) {
  SessionKind s;
  const char* type = getenv("XDG_SESSION_TYPE");
  s.wayland =
      NonEmpty(getenv("WAYLAND_DISPLAY")) || (type != nullptr && std::string(type) == "wayland");
  s.xwayland = s.wayland && NonEmpty(getenv("DISPLAY"));
  const char* desktop = getenv("XDG_CURRENT_DESKTOP");
  s.wholeWheelNotches =
      desktop != nullptr && std::string(desktop).find("GNOME") != std::string::npos;
  s.edgeBarriers = desktop != nullptr && std::string(desktop).find("KDE") != std::string::npos;
  return s;
}

std::vector<std::string> StartupNotesFor(const SessionKind& session, const ReplayChoice& choice) {
  if (!session.wayland) return {};
  std::vector<std::string> lines;
  lines.push_back("Wayland session: recording sees X11 programs only.");
  if (choice.remote) {
    lines.push_back(
        "Replay: through the desktop's remote input (portal and libei); the desktop asks once "
        "for permission.");
  } else {
    // Where XTEST lands is the desktop's choice: GNOME 46 and later pass it
    // through a permission of their own, KDE to every window.
    lines.push_back("Replay: XTEST through Xwayland (" + choice.whyNot +
                    "); the desktop decides where it goes: GNOME asks for its own permission "
                    "first, KDE lets it reach every window, others X11 programs only.");
  }
  return lines;
}

std::string InputPathNoteFor(const SessionKind& session, const ReplayChoice& choice,
                             bool playback) {
  if (!session.wayland) return {};
  if (!playback) return "Recording through Xwayland: input to X11 programs only.";
  if (choice.remote) return "Playing through the desktop's remote input (portal and libei).";
  return "Playing through XTEST on Xwayland (" + choice.whyNot +
         "); the desktop decides which windows it reaches.";
}

Placed PlaceOnRegions(const std::vector<Region>& regions, double x, double y) {
  Placed best{x, y, false};
  double bestDistance = std::numeric_limits<double>::infinity();
  for (const Region& r : regions) {
    if (r.width <= 0 || r.height <= 0) continue;
    const double left = r.x, top = r.y;
    if (x >= left && x < left + r.width && y >= top && y < top + r.height) return {x, y, false};
    const double cx = std::clamp(x, left, left + r.width - 1);
    const double cy = std::clamp(y, top, top + r.height - 1);
    const double d = std::hypot(cx - x, cy - y);
    if (d < bestDistance) {
      bestDistance = d;
      best = {cx, cy, true};
    }
  }
  return best;
}

Placed PlaceFromXRoot(const std::vector<Region>& regions, std::int32_t rootWidth,
                      std::int32_t rootHeight, std::int32_t x, std::int32_t y) {
  std::int64_t left = std::numeric_limits<std::int64_t>::max(), top = left;
  std::int64_t right = std::numeric_limits<std::int64_t>::min(), bottom = right;
  for (const Region& r : regions) {
    if (r.width <= 0 || r.height <= 0) continue;
    left = std::min<std::int64_t>(left, r.x);
    top = std::min<std::int64_t>(top, r.y);
    right = std::max<std::int64_t>(right, std::int64_t{r.x} + r.width);
    bottom = std::max<std::int64_t>(bottom, std::int64_t{r.y} + r.height);
  }
  if (right <= left || rootWidth <= 0 || rootHeight <= 0) return PlaceOnRegions(regions, x, y);
  const double fx = static_cast<double>(rootWidth) / static_cast<double>(right - left);
  const double fy = static_cast<double>(rootHeight) / static_cast<double>(bottom - top);
  // Xwayland scales by one factor on both axes; anything else is some other
  // arrangement, where the root and the layout are taken as one.
  const bool scaled = std::abs(fx - fy) < 0.01 && std::abs(fx - 1.0) > 0.001;
  double f = scaled ? fx : 1.0;
  // Regions are whole pixels: 800x600 at 150 % is 533.33 wide, announced as
  // 533. The factor is a monitor's scale (KWin's largest, mutter's next whole
  // one), so one that close is taken as it is.
  for (const Region& r : regions) {
    for (const double s : {r.scale, std::ceil(r.scale)}) {
      if (scaled && std::abs(s - fx) < 0.01 && std::abs(s - fy) < 0.01) f = s;
    }
  }
  const double ox = scaled ? static_cast<double>(left) : 0.0;
  const double oy = scaled ? static_cast<double>(top) : 0.0;
  return PlaceOnRegions(regions, ox + x / f, oy + y / f);
}

std::vector<Placed> CrossingHops(const std::vector<Region>& regions, const Placed* from,
                                 const Placed& to) {
  auto holding = [&](const Placed& p) -> const Region* {
    for (const Region& r : regions) {
      if (p.x >= r.x && p.x < r.x + r.width && p.y >= r.y && p.y < r.y + r.height) return &r;
    }
    return nullptr;
  };
  const Region* target = holding(to);
  const Region* source = from != nullptr ? holding(*from) : nullptr;
  if (target == nullptr || regions.size() < 2 || (from != nullptr && source == target)) return {};
  const Placed middle{target->x + target->width / 2.0, target->y + target->height / 2.0};
  if (source == nullptr) return {middle};
  // Along a line through the span the two monitors share: a move that leaves
  // past the end of the pointer's monitor meets a corner, where the barrier
  // holds for good.
  const Region& a = *source;
  const Region& b = *target;
  const bool across =
      std::abs(middle.x - (a.x + a.width / 2.0)) >= std::abs(middle.y - (a.y + a.height / 2.0));
  const double low = across ? std::max(a.y, b.y) : std::max(a.x, b.x);
  const double high =
      across ? std::min(a.y + a.height, b.y + b.height) : std::min(a.x + a.width, b.x + b.width);
  if (high <= low) return {middle};  // no shared edge: straight to the middle
  const double line = (low + high) / 2;
  if (across) {
    return {{a.x + a.width / 2.0, line}, {b.x > a.x ? b.x + b.width - 1.0 : b.x, line}};
  }
  return {{line, a.y + a.height / 2.0}, {line, b.y > a.y ? b.y + b.height - 1.0 : b.y}};
}

std::int32_t WheelSteps::Take(std::int32_t amount) {
  if (!whole_) return amount;
  // A turn the other way starts afresh: its notch is not eaten by the rest.
  if ((carry_ > 0 && amount < 0) || (carry_ < 0 && amount > 0)) carry_ = 0;
  carry_ += amount;
  const std::int32_t whole = carry_ / 120 * 120;
  carry_ -= whole;
  return whole;
}

bool IsReleaseRecord(const EVENTMSG& r) {
  return r.message == WM_KEYUP || r.message == WM_SYSKEYUP || r.message == WM_LBUTTONUP ||
         r.message == WM_RBUTTONUP || r.message == WM_MBUTTONUP || r.message == WM_XBUTTONUP;
}

std::uint32_t EvdevKeyOf(const EVENTMSG& record) {
  x11::ScanCode scan{(record.paramL >> 8) & 0xFFu, (record.paramH & 0x8000u) != 0};
  unsigned keycode = scan.code != 0 ? x11::KeycodeFromScan(scan) : 0;
  if (keycode == 0) {
    const x11::ScanCode us = ScanFromVkUs(record.paramL & 0xFFu);
    if (us.code != 0) keycode = x11::KeycodeFromScan(us);
  }
  return keycode > kXKeycodeOffset ? keycode - kXKeycodeOffset : 0;
}

std::optional<std::vector<DeviceEvent>> DeviceEventsFor(const EVENTMSG& record) {
  using K = DeviceEvent::Kind;
  const auto x = static_cast<std::int32_t>(record.paramL);
  const auto y = static_cast<std::int32_t>(record.paramH);
  const DeviceEvent move{K::Move, x, y, 0, false};
  auto button = [&](std::uint32_t code, bool press) {
    return std::vector<DeviceEvent>{move, {K::Button, 0, 0, code, press}};
  };
  switch (record.message) {
    case WM_MOUSEMOVE:
      return std::vector<DeviceEvent>{move};
    case WM_LBUTTONDOWN:
      return button(kBtnLeft, true);
    case WM_LBUTTONUP:
      return button(kBtnLeft, false);
    case WM_RBUTTONDOWN:
      return button(kBtnRight, true);
    case WM_RBUTTONUP:
      return button(kBtnRight, false);
    case WM_MBUTTONDOWN:
      return button(kBtnMiddle, true);
    case WM_MBUTTONUP:
      return button(kBtnMiddle, false);
    case WM_MOUSEWHEEL: {
      // Away from the user is positive in the journal and negative (up)
      // here; a damaged amount scrolls at most as far as 20 notches.
      const auto amount = static_cast<std::int32_t>(record.hwnd);
      if (amount == 0) return std::nullopt;
      const std::int32_t steps = std::clamp(amount, -kLongestWheel, kLongestWheel);
      return std::vector<DeviceEvent>{move, {K::Scroll, 0, -steps, 0, false}};
    }
    case WM_MOUSEHWHEEL: {
      // To the right is positive in both.
      const auto amount = static_cast<std::int32_t>(record.hwnd);
      if (amount == 0) return std::nullopt;
      const std::int32_t steps = std::clamp(amount, -kLongestWheel, kLongestWheel);
      return std::vector<DeviceEvent>{move, {K::Scroll, steps, 0, 0, false}};
    }
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      if (!NamesSideButton(record)) return std::nullopt;
      return button(record.hwnd == XBUTTON1 ? kBtnSide : kBtnExtra,
                    record.message == WM_XBUTTONDOWN);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      const std::uint32_t key = EvdevKeyOf(record);
      if (key == 0) return std::nullopt;
      const bool press = record.message == WM_KEYDOWN || record.message == WM_SYSKEYDOWN;
      return std::vector<DeviceEvent>{{K::Key, 0, 0, key, press}};
    }
    default:
      return std::nullopt;
  }
}

}  // namespace vesk::wayland
