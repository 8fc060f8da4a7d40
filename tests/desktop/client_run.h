// A scheduled run on a real desktop and what its native client received:
// the plan of records (positions, both buttons, Shift+a, the wheel), its
// playback through the program's own timer and the remote-input path, and
// the client's log read back as events and per-gap timing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client_events.h"
#include "platform/types.h"
#include "platform/x11/injector.h"

namespace vesk::x11 {
class PlaybackTimer;
}

namespace vesk::testing {

struct Step {
  std::uint32_t ms;  // after the first record
  EVENTMSG e;
};

// Around the middle of the 800x600 desktop, which the client's window
// covers: two moves, a left and a right click, Shift+a, the wheel by each
// of `wheel` (up), and a last move that marks the end.
std::vector<Step> InputPlan(const std::vector<std::uint32_t>& wheel);

// The client's events sorted by what the checks read.
struct Received {
  std::vector<double> moves;  // x, y, x, y, ...
  std::vector<std::uint32_t> buttons;
  std::vector<std::string> typed;  // what the presses of "a" typed
  std::vector<int> wheel;
  std::vector<ClientEvent> timed;  // buttons and keys
  bool ended = false;              // the plan's last move came after the wheel
};
Received Summarise(const std::vector<ClientEvent>& seen);

// Each timed event's gap to the previous against the plan's.
GapStats GapsAgainst(const std::vector<ClientEvent>& timed, const std::vector<Step>& plan);
std::string Describe(const GapStats& g);

// Plays a plan as the program's playback does: the timer asks a playback
// hook for each record and replays it through the injector when due. The
// schedule counts from the first request, made by Start.
class PlanPlayer {
 public:
  PlanPlayer(std::vector<Step> plan, x11::Injector& injector);
  ~PlanPlayer();
  PlanPlayer(const PlanPlayer&) = delete;
  PlanPlayer& operator=(const PlanPlayer&) = delete;

  void Start();
  std::size_t Played() const { return next_; }
  bool Done() const { return next_ >= plan_.size(); }

 private:
  LResult Call(int code, EVENTMSG* e);

  std::vector<Step> plan_;
  std::unique_ptr<x11::PlaybackTimer> timer_;
  std::size_t next_ = 0;
  std::uint64_t startNs_ = 0;
};

}  // namespace vesk::testing
