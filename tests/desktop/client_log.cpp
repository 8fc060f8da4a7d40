// Reading the native client's log (wev's lines), and waiting on conditions.
#include "client_log.h"

#include <QCoreApplication>

#include <time.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

namespace vesk::testing {

std::vector<Seen> Parse(const std::string& log) {
  static const std::regex motion(R"(motion: time: (\d+); x, y: ([-\d.]+), ([-\d.]+))");
  static const std::regex button(R"(button: serial: \d+; time: (\d+); button: (\d+).*state: (\d))");
  static const std::regex key(R"(key: serial: \d+; time: (\d+); key: (\d+); state: (\d))");
  static const std::regex utf8(R"(utf8: '(.*)')");
  static const std::regex axis(R"(axis: time: (\d+); axis: 0 \(vertical\), value: ([-\d.]+))");
  std::vector<Seen> out;
  std::istringstream in(log);
  std::string line;
  std::smatch m;
  auto u = [](const std::ssub_match& v) { return static_cast<std::uint32_t>(std::stoul(v)); };
  while (std::getline(in, line)) {
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
    // The client binds a pointer and a keyboard for each change of the
    // seat's capabilities, and each prints the same event.
    if (out.size() >= 2) {
      const Seen& a = out[out.size() - 2];
      const Seen& b = out.back();
      if (a.kind == b.kind && a.time == b.time && a.a == b.a && a.b == b.b) out.pop_back();
    }
  }
  return out;
}

std::vector<Seen> OfKind(const std::vector<Seen>& events, const std::string& kind) {
  std::vector<Seen> out;
  for (const Seen& s : events) {
    if (s.kind == kind) out.push_back(s);
  }
  return out;
}

bool WaitFor(const std::function<bool()>& done, int limitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::uint64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

}  // namespace vesk::testing
