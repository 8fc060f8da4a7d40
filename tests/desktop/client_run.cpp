// The plan, its playback on the program's timer, and the client's log.
#include "client_run.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/x11/playback_timer.h"

namespace vesk::testing {

std::vector<Step> InputPlan(const std::vector<std::uint32_t>& wheel) {
  std::vector<Step> plan = {
      {0, {WM_MOUSEMOVE, 360, 280, 0, 0}},      {300, {WM_MOUSEMOVE, 400, 300, 0, 0}},
      {600, {WM_LBUTTONDOWN, 400, 300, 0, 0}},  {750, {WM_LBUTTONUP, 400, 300, 0, 0}},
      {1050, {WM_RBUTTONDOWN, 400, 300, 0, 0}}, {1200, {WM_RBUTTONUP, 400, 300, 0, 0}},
      {1500, {WM_KEYDOWN, 0x2A10, 1, 0, 0}},    {1600, {WM_KEYDOWN, 0x1E41, 1, 0, 0}},
      {1700, {WM_KEYUP, 0x1E41, 1, 0, 0}},      {1800, {WM_KEYUP, 0x2A10, 1, 0, 0}}};
  std::uint32_t at = 1800;
  for (const std::uint32_t amount : wheel) {
    at += 300;
    plan.push_back({at, {WM_MOUSEWHEEL, 400, 300, 0, amount}});
  }
  plan.push_back({at + 300, {WM_MOUSEMOVE, 440, 320, 0, 0}});
  return plan;
}

Received Summarise(const std::vector<ClientEvent>& seen) {
  Received r;
  for (const ClientEvent& s : seen) {
    if (s.kind == "motion") r.moves.push_back(s.a), r.moves.push_back(s.b);
    if (s.kind == "button" || s.kind == "key") r.timed.push_back(s);
    if (s.kind == "button") r.buttons.push_back(static_cast<std::uint32_t>(s.a));
    if (s.kind == "key" && s.a == 38 && s.b == 1) r.typed.push_back(s.text);
    if (s.kind == "wheel") r.wheel.push_back(static_cast<int>(s.a));
  }
  // The wheel is the last thing before the final move.
  for (std::size_t i = seen.size(); i-- > 0;) {
    if (seen[i].kind == "wheel") break;
    if (seen[i].kind == "motion") r.ended = true;
  }
  if (r.wheel.empty()) r.ended = false;
  return r;
}

GapStats GapsAgainst(const std::vector<ClientEvent>& timed, const std::vector<Step>& plan) {
  std::vector<std::uint32_t> delays;
  std::uint32_t last = 0;
  for (const Step& step : plan) {
    if (step.e.message != WM_MOUSEMOVE && step.e.message != WM_MOUSEWHEEL) {
      delays.push_back(delays.empty() ? 0 : step.ms - last);
      last = step.ms;
    }
  }
  return CompareGaps(timed, delays);
}

std::string Describe(const GapStats& g) {
  return std::to_string(g.matched) + " timed events, max |gap error| " + std::to_string(g.max) +
         " ms, drift " + std::to_string(g.drift) + " ms over " + std::to_string(g.span) + " ms";
}

PlanPlayer::PlanPlayer(std::vector<Step> plan, x11::Injector& injector)
    : plan_(std::move(plan)), timer_(std::make_unique<x11::PlaybackTimer>()) {
  x11::PlaybackTimer::Calls calls;
  calls.current = [this] { return Done() ? HookHandle{0} : HookHandle{1}; };
  calls.call = [this](int code, EVENTMSG* e) { return Call(code, e); };
  calls.mayRun = [] { return true; };
  calls.logWork = [] {};
  timer_->SetCalls(std::move(calls), &injector);
}

PlanPlayer::~PlanPlayer() { timer_->Stop(); }

void PlanPlayer::Start() { timer_->Start(); }

LResult PlanPlayer::Call(int code, EVENTMSG* e) {
  if (code == HC_SKIP) {
    ++next_;  // past the last, the hook is gone (current() answers 0)
    return 0;
  }
  if (code != HC_GETNEXT || Done()) return 0;
  const std::uint64_t now = x11::MonotonicNs();
  if (startNs_ == 0) startNs_ = now;
  *e = plan_[next_].e;
  const std::uint64_t due = startNs_ + std::uint64_t{plan_[next_].ms} * 1000000u;
  // Whole milliseconds, rounded up: never early.
  return due > now ? static_cast<LResult>((due - now + 999999u) / 1000000u) : 0;
}

}  // namespace vesk::testing
