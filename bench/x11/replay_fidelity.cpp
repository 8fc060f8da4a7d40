// Replay fidelity: a journal of pointer moves with varied delays is played
// through the backend into a window; the server's time stamps of what the
// window received give each gap's error and the drift over the run.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/x11/qt_backend.h"
#include "x_session.h"

namespace {

using namespace vesk;

struct Served {
  std::vector<std::pair<EVENTMSG, LResult>> events;
  std::size_t next = 0;
  bool handedOver = false;
  HookHandle self = 0;
  x11::QtBackend* backend = nullptr;
};
Served g;

LResult PlaybackProc(int code, WParam, LParam lParam) {
  if (code == HC_SKIP) {
    ++g.next;
    g.handedOver = false;
    return 0;
  }
  if (g.next == g.events.size()) {
    g.backend->UnhookWindowsHookEx(g.self);
    return 0;
  }
  *reinterpret_cast<EVENTMSG*>(lParam) = g.events[g.next].first;
  if (g.handedOver) return 0;
  g.handedOver = true;
  return g.events[g.next].second;
}

long Percentile(std::vector<long> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 500;
  testing::Xvfb xvfb;
  QApplication app(argc, argv);
  x11::QtBackend backend;
  testing::TargetWindow target(0, 0, 1000, 700);
  g.backend = &backend;
  long planned = 0;
  for (int i = 0; i < count; ++i) {
    const LResult wait = 1 + (i * 7) % 25;  // 1..25 ms, as recorded input spreads
    const auto x = static_cast<std::uint32_t>(10 + (i % 2) * 500 + i % 400);
    g.events.push_back({EVENTMSG{WM_MOUSEMOVE, x, 300, 0, 0}, wait});
    if (i > 0) planned += wait;
  }
  g.self = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &PlaybackProc);
  auto pump = [&] {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    target.Pump();
  };
  const bool done =
      testing::WaitFor([&] { return static_cast<int>(target.Of(MotionNotify).size()) >= count; },
                       pump, std::chrono::milliseconds(120'000));
  const auto moves = target.Of(MotionNotify);
  if (!done) {
    std::fprintf(stderr, "only %zu of %d moves arrived\n", moves.size(), count);
    return 1;
  }
  std::vector<long> errors;
  for (int i = 1; i < count; ++i) {
    const long gap = static_cast<long>(moves[static_cast<std::size_t>(i)].time -
                                       moves[static_cast<std::size_t>(i) - 1].time);
    errors.push_back(
        std::labs(gap - static_cast<long>(g.events[static_cast<std::size_t>(i)].second)));
  }
  const long total = static_cast<long>(moves.back().time - moves.front().time);
  std::printf("events %d, planned %ld ms, took %ld ms, drift %+ld ms\n", count, planned, total,
              total - planned);
  std::printf("per-gap error ms: p50 %ld, p99 %ld, max %ld\n", Percentile(errors, 0.5),
              Percentile(errors, 0.99), *std::max_element(errors.begin(), errors.end()));
  return 0;
}
