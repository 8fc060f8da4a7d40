// What the native client of the test world (wev) received, read from its
// log, and how its event times compare with a journal's delays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesk::testing {

struct ClientEvent {
  std::string kind;        // motion, button, key, wheel
  std::uint32_t time = 0;  // the compositor's milliseconds
  double a = 0, b = 0;     // motion: x, y; button, key: code, pressed; wheel: value120
  std::string text{};      // key: what it types
};

std::vector<ClientEvent> ParseClientEvents(const std::string& log);

struct GapStats {
  std::size_t matched = 0;  // events at the client, compared in order with the delays
  int p99 = 0, max = 0;     // |gap error| in ms
  int drift = 0, span = 0;  // the client's span minus the recorded one; the recorded span
};

// delays[i] is the recorded wait before event i (the first is not compared).
GapStats CompareGaps(const std::vector<ClientEvent>& got, const std::vector<std::uint32_t>& delays);

}  // namespace vesk::testing
