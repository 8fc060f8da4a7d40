// Replay timing through the desktop's remote input: a journal of pointer
// moves with varied delays is played through the backend into the fake
// desktop's emulated-input server; the moments its frames arrive give each
// gap's error and the drift over the run, the frame stamps how late each
// event was sent. Run it under dbus-run-session.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/scripted_playback.h"
#include "fake_desktop.h"
#include "platform/qt/qt_backend.h"
#include "x_session.h"

namespace {

using namespace vesk;

long Percentile(std::vector<long> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 500;
  testing::Xvfb xvfb;
  // The restore token goes beside the settings, in the working directory.
  const auto work =
      std::filesystem::temp_directory_path() / ("vesk-replay-timing-" + std::to_string(getpid()));
  std::filesystem::create_directories(work);
  std::filesystem::current_path(work);
  setenv("WAYLAND_DISPLAY", "wayland-vesk-bench", 1);
  setenv("XDG_SESSION_TYPE", "wayland", 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  testing::FakeDesktop desktop({});
  qt::QtBackend backend;
  testing::ScriptedPlayback play;
  long planned = 0;
  for (int i = 0; i < count; ++i) {
    const LResult wait = 1 + (i * 7) % 25;  // 1..25 ms, as recorded input spreads
    const auto x = static_cast<std::uint32_t>(10 + (i % 2) * 500 + i % 400);
    play.records.push_back({EVENTMSG{WM_MOUSEMOVE, x, 300, 0, 0}, wait});
    if (i > 0) planned += wait;
  }
  // Answered as the program's playback answers: each record is due at the
  // first request plus the recorded waits up to it, so lateness never adds up.
  std::vector<long> dueUs(play.records.size(), 0);
  for (std::size_t i = 1; i < dueUs.size(); ++i)
    dueUs[i] = dueUs[i - 1] + 1000 * play.records[i].wait;
  std::chrono::steady_clock::time_point start{};
  play.pace = [&](std::size_t i, bool fresh) -> LResult {
    const auto now = std::chrono::steady_clock::now();
    if (i == 0 && fresh) start = now;
    const long left =
        dueUs[i] - std::chrono::duration_cast<std::chrono::microseconds>(now - start).count();
    if (left <= 500) return fresh ? 1 : 0;
    return static_cast<LResult>((left + 500) / 1000);
  };
  if (play.Install(backend) == 0) {
    std::fprintf(stderr, "playback did not start\n");
    return 1;
  }
  const bool done =
      testing::WaitFor([&] { return static_cast<int>(desktop.Got().size()) >= count; },
                       [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); },
                       std::chrono::milliseconds(120'000));
  const auto got = desktop.Got();
  if (!done) {
    std::fprintf(stderr, "only %zu of %d moves arrived\n", got.size(), count);
    return 1;
  }
  std::vector<long> errors;
  std::vector<long> transit;
  for (int i = 1; i < count; ++i) {
    const auto& a = got[static_cast<std::size_t>(i) - 1];
    const auto& b = got[static_cast<std::size_t>(i)];
    const long gapUs = static_cast<long>(b.receivedUs - a.receivedUs);
    errors.push_back(std::labs(
        gapUs - 1000 * static_cast<long>(play.records[static_cast<std::size_t>(i)].wait)));
    transit.push_back(static_cast<long>(b.receivedUs - b.frameUs));
  }
  const long total = static_cast<long>(got.back().receivedUs - got.front().receivedUs);
  std::printf("events %d, planned %ld ms, took %.1f ms, drift %+.1f ms\n", count, planned,
              total / 1000.0, (total - planned * 1000) / 1000.0);
  std::printf("per-gap error us: p50 %ld, p99 %ld, max %ld\n", Percentile(errors, 0.5),
              Percentile(errors, 0.99), *std::max_element(errors.begin(), errors.end()));
  std::error_code ec;
  std::filesystem::remove_all(work, ec);
  std::printf("frame stamp to arrival us: p50 %ld, p99 %ld, max %ld\n", Percentile(transit, 0.5),
              Percentile(transit, 0.99), *std::max_element(transit.begin(), transit.end()));
  return 0;
}
