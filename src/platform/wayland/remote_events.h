// What replay through the desktop's remote input needs that does not touch
// the library: the kind of session, the start-up lines, journal records as
// the emulated devices' events (evdev codes, desktop positions), and where a
// position lands among the regions (monitors) the desktop announced.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace vesk::wayland {

struct SessionKind {
  bool wayland = false;   // WAYLAND_DISPLAY or XDG_SESSION_TYPE=wayland
  bool xwayland = false;  // an X server (DISPLAY) in a Wayland session
  // GNOME's compositor turns wheel amounts into whole notches and drops the
  // rest (XDG_CURRENT_DESKTOP names GNOME).
  bool wholeWheelNotches = false;
  // KWin 6.1 to 6.3 hold an absolute move that crosses to another monitor
  // at the edge (XDG_CURRENT_DESKTOP names KDE).
  bool edgeBarriers = false;
};

// Reads the environment through getenv (tests pass their own).
SessionKind DetectSession(const std::function<const char*(const char*)>& getenv);

// Which replay path a Wayland session gets, and why not the remote one.
struct ReplayChoice {
  bool remote = false;
  std::string whyNot;  // e.g. "libei not found"; empty when remote
};

// The lines logged at start-up; none on an X11 session.
std::vector<std::string> StartupNotesFor(const SessionKind& session, const ReplayChoice& choice);

// The line for the start of a recording (playback false) or a playback
// run on a Wayland session; empty on an X11 session.
std::string InputPathNoteFor(const SessionKind& session, const ReplayChoice& choice, bool playback);

// One monitor in desktop coordinates (logical pixels) and its scale.
struct Region {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  double scale = 1.0;
};

struct Placed {
  double x = 0;
  double y = 0;
  bool clamped = false;  // the point was in no region
};

// The point itself when a region holds it, else the nearest point of the
// nearest region. Positions are logical pixels, as the desktop lays its
// monitors out; a region's scale does not change where a point lies.
Placed PlaceOnRegions(const std::vector<Region>& regions, double x, double y);

// Journal positions are X root positions (recording reads X RECORD, XTEST
// replays there). A desktop with scaled monitors may give Xwayland a root
// that is its logical layout times a whole scale (GNOME's and KDE's
// Xwayland scaling), so a root position is brought back to the layout:
// the root's top left is the layout's, sizes divide by the factor between
// the two. A root the layout's size (or not a uniform multiple of it) maps
// one to one. Width and height of 0: no X server, one to one.
Placed PlaceFromXRoot(const std::vector<Region>& regions, std::int32_t rootWidth,
                      std::int32_t rootHeight, std::int32_t x, std::int32_t y);

// KWin's edge barrier (100 px by default, 2000 within 15 px of a corner)
// holds a move that crosses from one monitor to another at the edge and lets
// it through short by the barrier's width: a move to (850, y) from the
// monitor to the left of x = 800 lands at 799, one to 1500 at 1400. Such a
// move goes by way of two points on a line through the span the monitors
// share: on the monitor of the last move (its middle on the other axis),
// then the target monitor's far side, which lands on that monitor; the
// target is then on the pointer's own monitor and lands exactly. No hops
// within one monitor; from an unknown place (the desktop may have moved the
// pointer) or without a shared edge, the middle of the target's monitor.
std::vector<Placed> CrossingHops(const std::vector<Region>& regions, const Placed* from,
                                 const Placed& to);

// Wheel amounts to send: all of them, or on a desktop that takes whole
// notches only, the whole notches so far with the rest carried to the next.
class WheelSteps {
 public:
  explicit WheelSteps(bool wholeNotches) : whole_(wholeNotches) {}
  std::int32_t Take(std::int32_t amount);
  void Reset() { carry_ = 0; }

 private:
  bool whole_;
  std::int32_t carry_ = 0;
};

inline constexpr std::uint32_t kBtnLeft = 0x110;
inline constexpr std::uint32_t kBtnRight = 0x111;
inline constexpr std::uint32_t kBtnMiddle = 0x112;
inline constexpr std::uint32_t kBtnSide = 0x113;   // back
inline constexpr std::uint32_t kBtnExtra = 0x114;  // forward

// One event of an emulated device.
struct DeviceEvent {
  enum class Kind { Move, Button, Scroll, Key };
  Kind kind = Kind::Move;
  std::int32_t x = 0;  // Move: desktop position; Scroll: discrete steps (120 a notch)
  std::int32_t y = 0;
  std::uint32_t code = 0;  // Button: BTN_*; Key: evdev key code
  bool press = false;
};

// A journal record as device events (mouse records move first), or
// nothing when the record is not input this path can play.
std::optional<std::vector<DeviceEvent>> DeviceEventsFor(const EVENTMSG& record);

// A key or button release.
bool IsReleaseRecord(const EVENTMSG& record);

// The evdev code of a journal key record (scan code, else virtual-key), or 0.
std::uint32_t EvdevKeyOf(const EVENTMSG& record);

}  // namespace vesk::wayland
