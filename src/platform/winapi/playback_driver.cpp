// The journal-playback protocol driver.
#include "platform/winapi/playback_driver.h"

namespace vesk::winapi {

namespace {
constexpr std::uint64_t kNsPerMs = 1'000'000;
}  // namespace

// A fresh HC_GETNEXT hands a record over with the wait until it is due; at
// (the moment of that call + the wait) it is asked for again, which gives
// the time still left or 0 for "process it now"; after processing comes
// HC_SKIP. The hook paces itself on its own schedule, so each wait counts
// from the moment it was answered. The last record of a pass is handed
// over and never processed: the hook removes itself inside the repeated
// call, and an answer from a hook that removed itself does not count.
bool PlaybackDriver::Drive() {
  if (driving_) return false;
  if (host_.PlaybackHook() == 0) {
    waiting_ = false;
    return false;
  }
  driving_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{driving_};
  bool asked = false;
  for (int served = 0; served < batch_; ++served) {
    const HookHandle hook = host_.PlaybackHook();
    if (hook == 0) break;
    const std::uint64_t now = host_.NowNs();
    if (waiting_ && now < dueNs_) {  // woken early: keep waiting
      host_.WakeAt(dueNs_);
      return asked;
    }
    EVENTMSG e{};
    const LResult wait = host_.CallPlaybackHook(HC_GETNEXT, &e);
    asked = true;
    if (host_.PlaybackHook() != hook) {  // removed from inside: the pass ended, or a pause
      waiting_ = false;
      return true;
    }
    if (wait > 0) {
      const bool fresh = !waiting_;
      waiting_ = true;
      dueNs_ = now + host_.AskAgainAfterMs(static_cast<std::uint64_t>(wait)) * kNsPerMs;
      if (fresh) host_.Slack(dueNs_);
      if (host_.PlaybackHook() != hook) break;
      host_.WakeAt(dueNs_);
      return true;
    }
    waiting_ = false;
    if (!host_.Process(e)) break;  // the hook goes too
    if (host_.PlaybackHook() == hook) host_.CallPlaybackHook(HC_SKIP, nullptr);
  }
  if (host_.PlaybackHook() != 0) host_.WakeAt(host_.NowNs());
  return asked;
}

}  // namespace vesk::winapi
