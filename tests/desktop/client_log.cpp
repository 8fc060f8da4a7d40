// The native client's events by kind, and waiting on conditions.
#include "client_log.h"

#include <QCoreApplication>

#include <time.h>

#include <chrono>
#include <thread>

namespace vesk::testing {

std::vector<ClientEvent> OfKind(const std::vector<ClientEvent>& events, const std::string& kind) {
  std::vector<ClientEvent> out;
  for (const ClientEvent& s : events) {
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
