// What the native client of the test world (wev) received, read from its
// log, and how its event times compare with a journal's delays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/journal.h"

namespace vesk::testing {

struct ClientEvent {
  std::string kind;        // motion, button, key, wheel
  std::uint32_t time = 0;  // the compositor's milliseconds
  double a = 0, b = 0;     // motion: x, y; button, key: code, pressed; wheel: value120
  std::string text{};      // key: what it types
};

std::vector<ClientEvent> ParseClientEvents(const std::string& log);

// A journal of mixed input around (cx, cy), where the client's window is:
// a move, a click into the client a second later (so that it has the keys),
// then `events` moves and typed letters with delays of 15 to 400 ms.
Journal MixedJournal(int events, int cx, int cy);

struct GapStats {
  std::size_t expected = 0;  // the journal's buttons and keys (its last record is never played)
  std::size_t matched = 0;   // the client's, compared with them in order
  int p99 = 0, max = 0;      // |gap error| in ms
  int drift = 0, span = 0;   // the client's span minus the recorded one; the recorded span
};

// Event times at the client against when each was due (ms, any origin).
GapStats CompareTimes(const std::vector<std::uint32_t>& times,
                      const std::vector<std::uint32_t>& due);

// The gaps between buttons and keys at the client against the journal's:
// moves are left out, since a compositor may merge or add them.
GapStats CompareGaps(const std::vector<ClientEvent>& got, const Journal& journal);

}  // namespace vesk::testing
