// The playback step: one journal entry handed to the system, on the pass's schedule.
#include "app/recorder_dialog.h"
#include "engine/hook_set.h"
#include "storage/event_names.h"

namespace vesk {

namespace {

// The table's label, told apart by button or direction where one message
// names several things.
const char* LabelOf(const EVENTMSG& e) {
  switch (e.message) {
    case WM_XBUTTONDOWN:
      if (e.hwnd == XBUTTON1) return " Mouse Back Btn Down: ";
      if (e.hwnd == XBUTTON2) return " Mouse Forward Btn Down: ";
      break;
    case WM_XBUTTONUP:
      if (e.hwnd == XBUTTON1) return " Mouse Back Btn Up: ";
      if (e.hwnd == XBUTTON2) return " Mouse Forward Btn Up: ";
      break;
    case WM_MOUSEHWHEEL:
      return static_cast<std::int32_t>(e.hwnd) < 0 ? " Mouse Wheel Left: " : " Mouse Wheel Right: ";
    default:
      break;
  }
  const EventName* name = FindEventName(e.message);
  return name != nullptr ? name->logLabel : nullptr;
}

// A stored delay above 0x7FFFFFFF is never written by recording; only a
// damaged or hostile file holds one, and waiting it out would stall playback
// for weeks.
std::uint64_t PacedDelayMicros(const EVENTMSG& e, bool recordedSpeed) {
  if (!recordedSpeed) return 20'000;
  return e.time > 0x7FFFFFFFu ? 0 : std::uint64_t{e.time} * 1000u;
}

// Milliseconds to hand back for a wait of the given microseconds, rounded
// to the nearest (the system counts in milliseconds).
LResult WaitMillis(std::uint64_t micros) {
  const std::uint64_t ms = (micros + 500u) / 1000u;
  return static_cast<LResult>(ms < 1 ? 1 : ms);
}

}  // namespace

LResult RecorderDialog::PlaybackStep(int code, WParam wParam, LParam lParam) {
  if (code == HC_SKIP) {
    // The system processed the entry handed over last.
    if (!fetchNext && currentEntry != nullptr) heldInput.Track(currentEntry->event);
    fetchNext = true;
    return 0;
  }
  if (code != HC_GETNEXT) return 0;

  auto* out = reinterpret_cast<EVENTMSG*>(lParam);
  const std::uint64_t now = Sys().GetMicroseconds();
  if (!fetchNext) {
    // Asked again for the entry handed over last. Windows may ask before the
    // wait is over: the rest of the wait, not 0.
    if (dueAt > now + 500u) {
      *out = currentEntry->event;
      return WaitMillis(dueAt - now);
    }
    // The last entry of a pass is handed over once and never processed.
    if (playPosition == Journal::npos) {
      EndCycle();
      return 0;
    }
    *out = currentEntry->event;
    HookSet* hooks = TheHookSet();
    return Sys().CallNextHookEx(hooks != nullptr ? hooks->playbackHook : 0, code, wParam, lParam);
  }

  if (handOverAgain && currentEntry != nullptr) {
    handOverAgain = false;
  } else {
    handOverAgain = false;
    // Entries whose tag is not 1 can only come from a file; they are passed
    // over everywhere, so the last entry with tag 1 ends the pass.
    while (playPosition != Journal::npos && journal.At(playPosition).tag != 1) {
      journal.GetNext(playPosition);
    }
    if (playPosition == Journal::npos) {
      EndCycle();
      return 0;  // nothing was handed over: no line
    }
    currentEntry = &journal.GetNext(playPosition);
    while (playPosition != Journal::npos && journal.At(playPosition).tag != 1) {
      journal.GetNext(playPosition);
    }
  }
  *out = currentEntry->event;
  fetchNext = false;
  if (!scheduleAnchored) {
    scheduleAnchored = true;
    scheduleOrigin = now;
  }

  // Each entry is due at the start of the stretch plus the recorded delays
  // up to it, so waiting never adds up to drift; an entry that is late is
  // caught up by the ones after it. Never sooner than 1 ms after the last.
  // A speed factor scales the whole schedule, not each wait, so rounding
  // never adds up either.
  const bool recorded = settings.playAtRecordedSpeed != 0;
  scheduleOffset += PacedDelayMicros(*out, recorded);
  const std::uint64_t planned =
      scheduleOrigin + (recorded && speedPercent != 100
                            ? scheduleOffset * 100u / static_cast<std::uint32_t>(speedPercent)
                            : scheduleOffset);
  dueAt = planned > now + 1000u ? planned : now + 1000u;

  textStream.Rewind();
  eventsPlayed = eventsPlayed + 1;
  textStream << "             " << eventsPlayed;
  const char* label = LabelOf(*out);
  if (label != nullptr) {
    textStream << label;
  } else {
    textStream << " Unidentified message: (" << out->message << ")  ";
  }
  if (IsMouseMessage(out->message)) {
    // Monitors left of or above the primary one have negative coordinates.
    textStream << "(" << static_cast<std::int32_t>(out->paramL) << ","
               << static_cast<std::int32_t>(out->paramH) << ")   +" << out->time;
  } else {
    textStream << "(" << out->paramL << "," << out->paramH << ")   +" << out->time;
  }
  AddComposedLine();
  return WaitMillis(dueAt - now);
}

}  // namespace vesk
