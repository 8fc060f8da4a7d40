// A journal-playback hook procedure that hands a scripted list of records
// to any backend, as the program's own playback does: the first HC_GETNEXT
// for a record hands it over with its wait, asking again gives what the
// next playback hook says (0 with none: replay it now), HC_SKIP moves on,
// and the call after the last record removes the hook from inside.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/platform.h"

namespace vesk::testing {

struct ScriptedRecord {
  EVENTMSG event;
  LResult wait;  // before the record, in milliseconds
};

class ScriptedPlayback {
 public:
  std::vector<ScriptedRecord> records;
  // Replaces the scripted waits: the answer to a fresh (first) or repeated
  // HC_GETNEXT for record i; 0 replays it.
  std::function<LResult(std::size_t i, bool fresh)> pace;
  // Called when record i is handed over, and when it is due (replayed next).
  std::function<void(std::size_t i)> onHandOver;
  std::function<void(std::size_t i)> onDue;
  // Called at HC_SKIP: the system processed record i.
  std::function<void(std::size_t i)> onSkip;
  // Called once the hook has removed itself.
  std::function<void()> onEnd;
  // The pass ends inside the repeated call of the last record, which is
  // then handed over and never replayed (as the program's journals end).
  bool endInsideLastRecord = false;

  std::vector<int> calls;  // the codes of every call, in order
  std::size_t next = 0;    // records skipped past so far
  bool ended = false;
  HookHandle self = 0;

  ScriptedPlayback() = default;
  ScriptedPlayback(const ScriptedPlayback&) = delete;
  ScriptedPlayback& operator=(const ScriptedPlayback&) = delete;
  ~ScriptedPlayback() {
    if (active_ == this) active_ = nullptr;
  }

  // Hook procedures are plain functions: one scripted playback at a time.
  HookHandle Install(Backend& backend) {
    backend_ = &backend;
    active_ = this;
    self = backend.SetWindowsHookEx(WH_JOURNALPLAYBACK, &Proc);
    return self;
  }
  bool Done() const { return ended; }

  static LResult Proc(int code, WParam wParam, LParam lParam) {
    ScriptedPlayback* s = active_;
    return s != nullptr ? s->Call(code, wParam, lParam) : 0;
  }

 private:
  LResult Call(int code, WParam wParam, LParam lParam) {
    calls.push_back(code);
    if (code == HC_SKIP) {
      if (onSkip) onSkip(next);
      ++next;
      handedOver_ = false;
      return 0;
    }
    if (code != HC_GETNEXT || ended) return 0;
    if (next >= records.size()) {
      End();
      return 0;
    }
    *reinterpret_cast<EVENTMSG*>(lParam) = records[next].event;
    const bool fresh = !handedOver_;
    handedOver_ = true;
    if (fresh && onHandOver) onHandOver(next);
    const LResult wait = pace    ? pace(next, fresh)
                         : fresh ? records[next].wait
                                 : backend_->CallNextHookEx(self, code, wParam, lParam);
    if (wait > 0) return wait;
    if (onDue) onDue(next);
    if (endInsideLastRecord && next + 1 == records.size()) End();
    return 0;
  }
  void End() {
    ended = backend_->UnhookWindowsHookEx(self);
    if (onEnd) onEnd();
  }

  static inline ScriptedPlayback* active_ = nullptr;
  Backend* backend_ = nullptr;
  bool handedOver_ = false;
};

}  // namespace vesk::testing
