// The native client's events of one kind, and the waiting and clock the
// desktop tests share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client_events.h"

namespace vesk::testing {

// What the client printed (client_events.h), in the tests' words.
using Seen = ClientEvent;
inline std::vector<Seen> Parse(const std::string& log) { return ParseClientEvents(log); }

// The events of one kind, in order.
std::vector<Seen> OfKind(const std::vector<Seen>& events, const std::string& kind);

// Runs the Qt event loop until done() or the limit; false on the limit.
bool WaitFor(const std::function<bool()>& done, int limitMs = 20000);

// The monotonic clock in microseconds.
std::uint64_t NowUs();

}  // namespace vesk::testing
