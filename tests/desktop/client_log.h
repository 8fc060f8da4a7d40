// The native client's events of one kind, and waiting on a condition.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client_events.h"

namespace vesk::testing {

// The events of one kind, in order.
std::vector<ClientEvent> OfKind(const std::vector<ClientEvent>& events, const std::string& kind);

// Runs the Qt event loop until done() or the limit; false on the limit.
bool WaitFor(const std::function<bool()>& done, int limitMs = 20000);

// The monotonic clock in microseconds.
std::uint64_t NowUs();

}  // namespace vesk::testing
