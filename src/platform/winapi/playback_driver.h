// The journal-playback protocol as the system drives it: ask the playback
// hook for a record (HC_GETNEXT), wait what it answers, ask again until the
// answer is 0, process the record, HC_SKIP. The clock, the wake-up and what
// processing a record means belong to the backend.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace vesk::winapi {

class PlaybackDriver {
 public:
  class Host {
   public:
    virtual ~Host() = default;
    // The playback hook that is called first; 0 for none.
    virtual HookHandle PlaybackHook() = 0;
    // Calls that hook's procedure.
    virtual LResult CallPlaybackHook(int code, EVENTMSG* event) = 0;
    // A monotonic clock in nanoseconds.
    virtual std::uint64_t NowNs() = 0;
    // Drive is to be called again at that moment (a past one: soon).
    virtual void WakeAt(std::uint64_t ns) = 0;
    // The system processes the record (replays it); false when it cannot
    // and playback cannot go on.
    virtual bool Process(const EVENTMSG& event) = 0;
    // A fresh wait began that ends at dueNs: time for other work.
    virtual void Slack(std::uint64_t /*dueNs*/) {}
    // How many milliseconds until the system asks again after the hook
    // answered a wait of waitMs (the system may ask sooner).
    virtual std::uint64_t AskAgainAfterMs(std::uint64_t waitMs) { return waitMs; }
  };

  // At most batch records in a row before the caller's loop runs again: a
  // journal of zero waits must not freeze the windows.
  PlaybackDriver(Host& host, int batch) : host_(host), batch_(batch) {}

  // A playback hook went in or went: the next ask is a fresh one.
  void Reset() { waiting_ = false; }
  // Serves what is due; whether the hook was asked at all.
  bool Drive();

  // A record was handed over and is waited for, until DueNs.
  bool Waiting() const { return waiting_; }
  std::uint64_t DueNs() const { return dueNs_; }
  // Inside Drive (hook procedures may run nested loops).
  bool Driving() const { return driving_; }

 private:
  Host& host_;
  const int batch_;
  bool waiting_ = false;
  bool driving_ = false;
  std::uint64_t dueNs_ = 0;
};

}  // namespace vesk::winapi
