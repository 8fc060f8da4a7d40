#include "app/recorder_dialog.h"
#include "engine/hook_set.h"

namespace vesk {

namespace {

const char* LabelOf(std::uint32_t message) {
  switch (message) {
    case WM_MOUSEMOVE:
      return " Mouse Move: ";
    case WM_LBUTTONDOWN:
      return " Mouse Left Btn Down: ";
    case WM_LBUTTONUP:
      return " Mouse Left Btn Up: ";
    case WM_RBUTTONDOWN:
      return " Mouse Right Btn Down: ";
    case WM_RBUTTONUP:
      return " Mouse Right Btn Up: ";
    case WM_MOUSEWHEEL:
      return " Mouse Wheel: ";
    case WM_KEYDOWN:
      return " Keyboard key down: ";
    case WM_KEYUP:
      return " Keyboard key up: ";
    case WM_SYSKEYDOWN:
      return " Keyboard sys. key down: ";
    case WM_SYSKEYUP:
      return " Keyboard sys. key up: ";
    case WM_MBUTTONDOWN:
      return " Mouse Mid Btn Down: ";
    case WM_MBUTTONUP:
      return " Mouse Mid Btn Up: ";
    default:
      return nullptr;
  }
}

}  // namespace

LResult RecorderDialog::PlaybackStep(int code, WParam wParam, LParam lParam) {
  if (code == HC_SKIP) {
    fetchNext = true;
    return 0;
  }
  if (code != HC_GETNEXT) return 0;

  auto* out = reinterpret_cast<EVENTMSG*>(lParam);
  if (fetchNext) {
    // Entries whose tag is not 1 can only come from a file; pass over them
    // so that playback keeps making progress.
    while (playPosition != Journal::npos && journal.At(playPosition).tag != 1) {
      journal.GetNext(playPosition);
    }
  }
  if (playPosition == Journal::npos) {
    EndCycle();
    return 0;  // nothing was handed over: no line
  }
  if (!fetchNext) {
    *out = currentEntry->event;
    HookSet* hooks = TheHookSet();
    return Sys().CallNextHookEx(hooks != nullptr ? hooks->playbackHook : 0, code, wParam, lParam);
  }
  currentEntry = &journal.GetNext(playPosition);
  *out = currentEntry->event;
  fetchNext = false;

  textStream.Rewind();
  eventsPlayed = eventsPlayed + 1;
  textStream << "             " << eventsPlayed;
  if (const char* label = LabelOf(out->message)) {
    textStream << label;
  } else {
    textStream << " Unidentified message: (" << out->message << ")  ";
  }
  textStream << "(" << out->paramL << "," << out->paramH << ")   +" << out->time;
  AddComposedLine();
  return settings.playAtRecordedSpeed != 0 ? static_cast<LResult>(out->time) + 1 : 20;
}

}  // namespace vesk
