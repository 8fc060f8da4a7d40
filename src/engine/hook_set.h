// The process-wide record of the four hook handles and the main window
// that receives the hook calls.
#pragma once

#include "platform/types.h"

namespace vesk {

class RecorderDialog;

class HookSet {
 public:
  HookSet() = default;
  ~HookSet();
  HookSet(const HookSet&) = delete;
  HookSet& operator=(const HookSet&) = delete;

  // Sets the owner and installs the two watch hooks.
  void Attach(RecorderDialog* dialog);
  // The main window is going away: no hook call may reach it any more.
  void Detach();
  void InstallRecordHook();
  void RemoveRecordHook();
  void InstallPlaybackHook();
  void RemovePlaybackHook();

  RecorderDialog* owner = nullptr;
  HookHandle getMessageHook = 0;
  HookHandle keyboardHook = 0;
  HookHandle recordHook = 0;
  HookHandle playbackHook = 0;
};

// The one instance, while the program runs (null outside).
HookSet* TheHookSet();
void SetTheHookSet(HookSet* hookSet);

LResult RecordHookProc(int code, WParam wParam, LParam lParam);
LResult PlaybackHookProc(int code, WParam wParam, LParam lParam);
LResult CancelWatchProc(int code, WParam wParam, LParam lParam);
LResult BreakWatchProc(int code, WParam wParam, LParam lParam);

}  // namespace vesk
