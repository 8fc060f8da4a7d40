// Reading the native client's log and timing it against a journal.
#include "client_events.h"

#include <algorithm>
#include <cstdlib>
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

GapStats CompareGaps(const std::vector<ClientEvent>& got,
                     const std::vector<std::uint32_t>& delays) {
  GapStats s;
  s.matched = got.size();
  const std::size_t n = std::min(got.size(), delays.size());
  if (n < 2) return s;
  std::vector<int> errors;
  for (std::size_t i = 1; i < n; ++i) {
    const int gap = static_cast<int>(got[i].time - got[i - 1].time);
    errors.push_back(std::abs(gap - static_cast<int>(delays[i])));
    s.span += static_cast<int>(delays[i]);
  }
  std::sort(errors.begin(), errors.end());
  s.max = errors.back();
  s.p99 = errors[(errors.size() - 1) * 99 / 100];
  s.drift = static_cast<int>(got[n - 1].time - got[0].time) - s.span;
  return s;
}

}  // namespace vesk::testing
