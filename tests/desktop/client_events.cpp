// Reading the native client's log and timing it against a journal.
#include "client_events.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>

namespace vesk::testing {

std::vector<ClientEvent> ParseClientEvents(const std::string& log) {
  static const std::regex motion(R"(motion: time: (\d+); x, y: ([-\d.]+), ([-\d.]+))");
  static const std::regex button(R"(button: serial: \d+; time: (\d+); button: (\d+).*state: (\d))");
  static const std::regex key(R"(key: serial: \d+; time: (\d+); key: (\d+); state: (\d))");
  static const std::regex utf8(R"(utf8: '(.*)')");
  static const std::regex axis(R"(axis: time: (\d+); axis: 0 \(vertical\), value: ([-\d.]+))");
  static const std::regex object(R"(^\[(\d+):)");
  std::vector<ClientEvent> out;
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
    // one turn, as GNOME sends them, come from one object).
    if (out.size() >= 2) {
      const ClientEvent& a = out[out.size() - 2];
      const ClientEvent& b = out.back();
      if (a.kind == b.kind && a.time == b.time && a.a == b.a && a.b == b.b &&
          from[from.size() - 2] != from.back()) {
        out.pop_back();
        from.pop_back();
      }
    }
  }
  return out;
}

GapStats CompareTimes(const std::vector<std::uint32_t>& times,
                      const std::vector<std::uint32_t>& due) {
  GapStats s;
  s.expected = due.size();
  s.matched = times.size();
  const std::size_t n = std::min(times.size(), due.size());
  if (n < 2) return s;
  std::vector<int> errors;
  for (std::size_t i = 1; i < n; ++i) {
    const int gap = static_cast<int>(times[i] - times[i - 1]);
    errors.push_back(std::abs(gap - static_cast<int>(due[i] - due[i - 1])));
  }
  std::sort(errors.begin(), errors.end());
  s.max = errors.back();
  s.p99 = errors[(errors.size() - 1) * 99 / 100];
  s.span = static_cast<int>(due[n - 1] - due[0]);
  s.drift = static_cast<int>(times[n - 1] - times[0]) - s.span;
  return s;
}

GapStats CompareGaps(const std::vector<ClientEvent>& got, const Journal& journal) {
  std::vector<std::uint32_t> due;
  std::uint32_t at = 0;
  for (std::size_t i = 0; i + 1 < journal.Size(); ++i) {
    const EVENTMSG& e = journal.At(i).event;
    if (i > 0) at += e.time;
    if (e.message != WM_MOUSEMOVE && e.message != WM_MOUSEWHEEL) due.push_back(at);
  }
  std::vector<std::uint32_t> times;
  for (const ClientEvent& e : got) {
    if (e.kind == "button" || e.kind == "key") times.push_back(e.time);
  }
  return CompareTimes(times, due);
}

Journal MixedJournal(int events, int cx, int cy) {
  Journal journal;
  auto add = [&](std::uint32_t m, std::uint32_t l, std::uint32_t h, std::uint32_t delay) {
    journal.Append(JournalEntry{1, EVENTMSG{m, l, h, delay, 0}});
  };
  // A click into the client first, so that it has the keyboard.
  add(WM_MOUSEMOVE, cx, cy, 0);
  add(WM_LBUTTONDOWN, cx, cy, 1000);
  add(WM_LBUTTONUP, cx, cy, 100);
  std::mt19937 random(7);
  std::uniform_int_distribution<std::uint32_t> delay(15, 400);
  std::uniform_int_distribution<int> step(-60, 60);
  for (int i = 0; i < events; ++i) {
    const std::uint32_t x = cx + step(random), y = cy + step(random);
    switch (i % 4) {
      case 0:
        add(WM_MOUSEMOVE, x, y, delay(random));
        break;
      case 1:
        add(WM_KEYDOWN, 0x1E41, 1, delay(random));
        break;
      case 2:
        add(WM_KEYUP, 0x1E41, 1, delay(random));
        break;
      default:
        add(WM_MOUSEMOVE, x, y, delay(random));
        break;
    }
  }
  add(WM_MOUSEMOVE, cx, cy, 100);  // handed over last, never replayed
  return journal;
}

}  // namespace vesk::testing
