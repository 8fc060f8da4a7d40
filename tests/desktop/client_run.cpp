// The plan, its playback on the program's timer, and the client's log.
#include "client_run.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>
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

std::vector<Seen> Parse(const std::string& log) {
  static const std::regex motion(R"(motion: time: (\d+); x, y: ([-\d.]+), ([-\d.]+))");
  static const std::regex button(R"(button: serial: \d+; time: (\d+); button: (\d+).*state: (\d))");
  static const std::regex key(R"(key: serial: \d+; time: (\d+); key: (\d+); state: (\d))");
  static const std::regex utf8(R"(utf8: '(.*)')");
  static const std::regex axis(R"(axis: time: (\d+); axis: 0 \(vertical\), value: ([-\d.]+))");
  static const std::regex object(R"(^\[(\d+):)");
  std::vector<Seen> out;
  std::vector<std::string> from;  // the protocol object that printed each
  std::istringstream in(log);
  std::string line;
  std::smatch m;
  auto u = [](const std::ssub_match& v) { return static_cast<std::uint32_t>(std::stoul(v)); };
  while (std::getline(in, line)) {
    const std::size_t before = out.size();
    if (std::regex_search(line, m, motion)) {
      out.push_back({"motion", u(m[1]), std::stod(m[2]), std::stod(m[3])});
    } else if (std::regex_search(line, m, button)) {
      out.push_back({"button", u(m[1]), std::stod(m[2]), std::stod(m[3])});
    } else if (std::regex_search(line, m, key)) {
      out.push_back({"key", u(m[1]), std::stod(m[2]), std::stod(m[3])});
    } else if (std::regex_search(line, m, utf8) && !out.empty() && out.back().kind == "key") {
      out.back().text = m[1];
    } else if (std::regex_search(line, m, axis)) {
      out.push_back({"wheel", u(m[1]), std::stod(m[2]), 0});
    }
    if (out.size() == before) continue;
    from.push_back(std::regex_search(line, m, object) ? m[1].str() : std::string());
    // The client binds a pointer and a keyboard for each change of the
    // seat's capabilities, and each prints the same event (two notches in
    // one run come from one object).
    if (out.size() >= 2) {
      const Seen& a = out[out.size() - 2];
      const Seen& b = out.back();
      if (a.kind == b.kind && a.time == b.time && a.a == b.a && a.b == b.b &&
          from[from.size() - 2] != from.back()) {
        out.pop_back();
        from.pop_back();
      }
    }
  }
  return out;
}

Received Summarise(const std::vector<Seen>& seen) {
  Received r;
  for (const Seen& s : seen) {
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

Gaps GapsAgainst(const std::vector<Seen>& timed, const std::vector<Step>& plan) {
  std::vector<std::uint32_t> planned;
  for (const Step& step : plan) {
    if (step.e.message != WM_MOUSEMOVE && step.e.message != WM_MOUSEWHEEL) {
      planned.push_back(step.ms);
    }
  }
  Gaps g;
  if (timed.size() != planned.size() || timed.size() < 2) return g;
  g.count = timed.size() - 1;
  for (std::size_t i = 1; i < timed.size(); ++i) {
    const int error = static_cast<int>(timed[i].time - timed[i - 1].time) -
                      static_cast<int>(planned[i] - planned[i - 1]);
    g.maxError = std::max(g.maxError, std::abs(error));
  }
  g.planned = static_cast<int>(planned.back() - planned.front());
  g.drift = static_cast<int>(timed.back().time - timed.front().time) - g.planned;
  return g;
}

std::string Describe(const Gaps& g) {
  return std::to_string(g.count) + " gaps, max |error| " + std::to_string(g.maxError) +
         " ms, drift " + std::to_string(g.drift) + " ms over " + std::to_string(g.planned) + " ms";
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
