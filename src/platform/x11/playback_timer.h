// Journal playback on X11: the driver of the playback protocol woken by a
// monotonic timer with nanosecond resolution, replaying through the
// injector. The log list's work is done only in the slack between an
// injection and the next due time, so that layout and painting never sit
// between a due time and its injection.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/types.h"
#include "platform/winapi/playback_driver.h"
#include "platform/x11/injector.h"

class QSocketNotifier;

namespace vesk::x11 {

// CLOCK_MONOTONIC in nanoseconds.
std::uint64_t MonotonicNs();

class PlaybackTimer : private winapi::PlaybackDriver::Host {
 public:
  struct Calls {
    // The handle of the playback hook that is called first, 0 for none.
    std::function<HookHandle()> current;
    // Calls that hook's procedure.
    std::function<LResult(int code, EVENTMSG* event)> call;
    // False while the event loop runs for painting only.
    std::function<bool()> mayRun;
    // The log list's pending work, done now (layout and painting included).
    std::function<void()> logWork;
  };

  PlaybackTimer();
  ~PlaybackTimer() override;
  PlaybackTimer(const PlaybackTimer&) = delete;
  PlaybackTimer& operator=(const PlaybackTimer&) = delete;

  void SetCalls(Calls calls, Injector* injector);
  void SetInjector(Injector* injector) { injector_ = injector; }

  // A playback hook went in: the first record is asked for at once.
  void Start();
  // The last playback hook went: nothing more is asked or replayed.
  void Stop();
  // The event loop may run the program again (after a painting-only run).
  void Resume();
  bool Active() const { return active_; }

 private:
  void ArmAt(std::uint64_t ns);
  void OnTimer();

  HookHandle PlaybackHook() override { return host_.current(); }
  LResult CallPlaybackHook(int code, EVENTMSG* event) override { return host_.call(code, event); }
  std::uint64_t NowNs() override { return MonotonicNs(); }
  void WakeAt(std::uint64_t ns) override;
  bool Process(const EVENTMSG& event) override;
  void Slack(std::uint64_t dueNs) override;

  Calls host_;
  Injector* injector_ = nullptr;
  int timerFd_ = -1;
  QObject context_;
  QSocketNotifier* notifier_ = nullptr;
  bool active_ = false;
  bool deferred_ = false;
  winapi::PlaybackDriver driver_;
  std::uint64_t logCostNs_ = 0;  // the longest recent log work
  std::uint64_t lastLogWorkNs_ = 0;
};

}  // namespace vesk::x11
