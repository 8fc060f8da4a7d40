// What the native client in a world's session received, read from its log,
// and the waiting and clock the desktop tests share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vesk::testing {

// One event the client printed.
struct Seen {
  std::string kind;  // motion, button, key, wheel
  std::uint32_t time = 0;
  double a = 0, b = 0;  // motion: x, y; button, key: code, pressed; wheel: value
  std::string text{};   // key: what it types
};

std::vector<Seen> Parse(const std::string& log);

// The events of one kind, in order.
std::vector<Seen> OfKind(const std::vector<Seen>& events, const std::string& kind);

// Runs the Qt event loop until done() or the limit; false on the limit.
bool WaitFor(const std::function<bool()>& done, int limitMs = 20000);

// The monotonic clock in microseconds.
std::uint64_t NowUs();

}  // namespace vesk::testing
