// Journal playback on X11: the timer, the slack work, the replay.
#include "platform/x11/playback_timer.h"

#include <QSocketNotifier>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace vesk::x11 {
namespace {

constexpr std::uint64_t kNsPerMs = 1'000'000;
// Playback serves at most this many records in a row before it lets the
// event loop run.
constexpr int kPlaybackBatch = 64;
// Log work is done only when the next record is due at least this much
// later than the longest recent log work would end.
constexpr std::uint64_t kLogMarginNs = 1 * kNsPerMs;
constexpr std::uint64_t kLogLeastSlackNs = 2 * kNsPerMs;
// And at most this often: a person reads no faster, and a busy system
// wakes a process that works less sooner.
constexpr std::uint64_t kLogIntervalNs = 100 * kNsPerMs;

}  // namespace

std::uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000u +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

PlaybackTimer::PlaybackTimer() : driver_(*this, kPlaybackBatch) {
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timerFd_ < 0) {
    std::perror("vesk: timerfd_create");
    return;
  }
  notifier_ = new QSocketNotifier(timerFd_, QSocketNotifier::Read, &context_);
  QObject::connect(notifier_, &QSocketNotifier::activated, &context_, [this] { OnTimer(); });
}

PlaybackTimer::~PlaybackTimer() {
  delete notifier_;
  if (timerFd_ >= 0) close(timerFd_);
}

void PlaybackTimer::SetCalls(Calls calls, Injector* injector) {
  host_ = std::move(calls);
  injector_ = injector;
}

namespace {
// On kernels whose fair scheduler takes a requested time slice (EEVDF,
// Linux 6.12 and later), a short slice lets this thread preempt a busy one
// as soon as its timer fires; no privilege is needed. Elsewhere it fails
// and nothing changes. Only playback asks for it.
struct SchedAttr {  // the kernel's struct sched_attr, first version
  std::uint32_t size;
  std::uint32_t sched_policy;
  std::uint64_t sched_flags;
  std::int32_t sched_nice;
  std::uint32_t sched_priority;
  std::uint64_t sched_runtime;
  std::uint64_t sched_deadline;
  std::uint64_t sched_period;
};

void RequestShortSlice(bool shortSlice) {
  if (sched_getscheduler(0) != SCHED_OTHER) return;  // a real-time policy is kept as it is
  SchedAttr attr{};
  attr.size = sizeof attr;
  attr.sched_policy = SCHED_OTHER;
  attr.sched_nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));  // kept as it is
  attr.sched_runtime = shortSlice ? 100'000u : 0u;                           // ns; 0 = the default
  syscall(SYS_sched_setattr, 0, &attr, 0u);
}
}  // namespace

void PlaybackTimer::Start() {
  RequestShortSlice(true);
  active_ = true;
  driver_.Reset();
  ArmAt(MonotonicNs());
}

void PlaybackTimer::Stop() {
  if (active_) RequestShortSlice(false);
  active_ = false;
  driver_.Reset();
  deferred_ = false;
  if (timerFd_ >= 0) {
    const itimerspec off{};
    timerfd_settime(timerFd_, 0, &off, nullptr);
  }
}

void PlaybackTimer::Resume() {
  if (std::exchange(deferred_, false) && active_) ArmAt(MonotonicNs());
}

void PlaybackTimer::ArmAt(std::uint64_t ns) {
  if (timerFd_ < 0) return;
  itimerspec when{};
  ns = std::max<std::uint64_t>(ns, 1);  // zero would disarm it
  when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000u);
  when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000u);
  timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void PlaybackTimer::OnTimer() {
  std::uint64_t expirations = 0;
  while (read(timerFd_, &expirations, sizeof expirations) > 0) {
  }
  if (!active_ || injector_ == nullptr) return;
  if (host_.mayRun && !host_.mayRun()) {
    deferred_ = true;
    return;
  }
  driver_.Drive();
}

void PlaybackTimer::WakeAt(std::uint64_t ns) {
  if (active_) ArmAt(ns);
}

bool PlaybackTimer::Process(const EVENTMSG& event) {
  // Nothing replayed because the path is gone: the hook goes too.
  return injector_->Send(&event, 1) != 0 || injector_->IsConnected();
}

void PlaybackTimer::Slack(std::uint64_t dueNs) {
  if (!host_.logWork) return;
  const std::uint64_t start = MonotonicNs();
  if (start < lastLogWorkNs_ + kLogIntervalNs) return;
  const std::uint64_t needed = std::max(kLogLeastSlackNs, 2 * logCostNs_ + kLogMarginNs);
  if (dueNs < start + needed) {
    logCostNs_ -= logCostNs_ / 64;  // an unusually slow paint is forgotten in time
    return;
  }
  host_.logWork();
  lastLogWorkNs_ = MonotonicNs();
  const std::uint64_t cost = lastLogWorkNs_ - start;
  logCostNs_ = std::max(cost, logCostNs_ - logCostNs_ / 8);
}

}  // namespace vesk::x11
