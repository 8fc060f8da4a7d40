// The hook procedures and the process-wide record of the hooks in place.
#include "engine/hook_set.h"

#include <algorithm>

#include "app/recorder_dialog.h"
#include "platform/platform.h"

namespace vesk {

namespace {
HookSet* g_hookSet = nullptr;
}  // namespace

HookSet* TheHookSet() { return g_hookSet; }
void SetTheHookSet(HookSet* hookSet) { g_hookSet = hookSet; }

HookSet::~HookSet() {
  Sys().UnhookWindowsHookEx(recordHook);
  Sys().UnhookWindowsHookEx(playbackHook);
  Sys().UnhookWindowsHookEx(getMessageHook);
  Sys().UnhookWindowsHookEx(keyboardHook);
}

void HookSet::Attach(RecorderDialog* dialog) {
  owner = dialog;
  getMessageHook = Sys().SetWindowsHookEx(WH_GETMESSAGE, &CancelWatchProc);
  keyboardHook = Sys().SetWindowsHookEx(WH_KEYBOARD_LL, &BreakWatchProc);
}

void HookSet::Detach() {
  Sys().UnhookWindowsHookEx(recordHook);
  Sys().UnhookWindowsHookEx(playbackHook);
  owner = nullptr;
}

void HookSet::InstallRecordHook() {
  recordHook = Sys().SetWindowsHookEx(WH_JOURNALRECORD, &RecordHookProc);
}
void HookSet::RemoveRecordHook() { Sys().UnhookWindowsHookEx(recordHook); }
void HookSet::InstallPlaybackHook() {
  playbackHook = Sys().SetWindowsHookEx(WH_JOURNALPLAYBACK, &PlaybackHookProc);
}
void HookSet::RemovePlaybackHook() { Sys().UnhookWindowsHookEx(playbackHook); }

LResult RecordHookProc(int code, WParam wParam, LParam lParam) {
  HookSet* hs = g_hookSet;
  if (hs == nullptr) return 0;
  if (code < 0) return Sys().CallNextHookEx(hs->recordHook, code, wParam, lParam);
  if (hs->owner != nullptr) hs->owner->RecordStep(code, wParam, lParam);
  return Sys().CallNextHookEx(hs->recordHook, code, wParam, lParam);
}

LResult PlaybackHookProc(int code, WParam wParam, LParam lParam) {
  HookSet* hs = g_hookSet;
  if (hs == nullptr || hs->owner == nullptr) return 0;
  return hs->owner->PlaybackStep(code, wParam, lParam);
}

LResult CancelWatchProc(int code, WParam wParam, LParam lParam) {
  HookSet* hs = g_hookSet;
  if (hs == nullptr) return 0;
  if (code != HC_ACTION) return Sys().CallNextHookEx(hs->getMessageHook, code, wParam, lParam);
  const auto* msg = reinterpret_cast<const MSG*>(lParam);
  if (msg != nullptr && msg->message == WM_CANCELJOURNAL && hs->owner != nullptr) {
    hs->owner->Pause(false);
  }
  if (msg != nullptr && msg->message == WM_VESK_NOTE && hs->owner != nullptr) {
    // One line each: the log is a list box.
    const std::string notes = Sys().Notes().TakeNote();
    for (std::size_t at = 0; at < notes.size();) {
      const std::size_t end = std::min(notes.find('\n', at), notes.size());
      hs->owner->AddLogLine(notes.substr(at, end - at));
      at = end + 1;
    }
  }
  return 0;
}

LResult BreakWatchProc(int code, WParam wParam, LParam lParam) {
  HookSet* hs = g_hookSet;
  if (hs == nullptr) return 0;
  const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
  if (wParam == WM_KEYDOWN && key != nullptr && key->vkCode == VK_CANCEL) {
    // Swallowed even after the main window is gone: Ctrl+Break belongs to
    // this program for its whole life.
    if (hs->owner != nullptr) hs->owner->Pause(true);
    return 1;
  }
  return Sys().CallNextHookEx(hs->keyboardHook, code, wParam, lParam);
}

}  // namespace vesk
