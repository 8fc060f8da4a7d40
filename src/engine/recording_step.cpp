// The recording step: one captured event into the journal and the script.
#include "engine/recording_step.h"

#include <cstdio>
#include <optional>
#include <string>

#include "app/recorder_app.h"
#include "app/recorder_dialog.h"
#include "script/key_names.h"
#include "script/script_export.h"
#include "storage/event_names.h"

namespace vesk {

namespace {
RecordingStepState g_step;

// Monitors left of or above the primary one have negative coordinates; the
// record keeps them as unsigned bits.
std::string Signed(std::uint32_t v) { return std::to_string(static_cast<std::int32_t>(v)); }
}  // namespace

RecordingStepState& TheRecordingStepState() { return g_step; }

void RecorderDialog::RecordStep(int code, WParam, LParam lParam) {
  if (code != HC_ACTION) return;
  const EVENTMSG e = *reinterpret_cast<const EVENTMSG*>(lParam);
  const std::uint32_t key = e.paramL;
  lastEvent = e;
  // An event stamped before the moment recording started (it was generated
  // just before the click was handled) counts as simultaneous, not as a
  // wait of 49.7 days.
  const std::uint32_t diff = e.time - lastEventTime;
  lastEvent.time = diff > 0x7FFFFFFFu ? 0 : diff;
  lastEventTime = e.time;

  std::string line;
  std::string logOnly;
  const EventName* name = FindEventName(e.message);
  switch (name != nullptr ? name->args : EventArgs::PositionButton) {
    case EventArgs::Position:
      line = name->message == WM_MOUSEMOVE ? std::string(name->script) + "(" + Signed(e.paramL) +
                                                 ", " + Signed(e.paramH) + ")"
                                           : name->script;
      break;
    case EventArgs::PositionAmount:  // the wheels have no script line
      // AutoIt's MouseWheel turns up and down only: sideways is logged.
      if (e.message == WM_MOUSEHWHEEL) {
        logOnly = std::string("Mouse wheel ") +
                  (static_cast<std::int32_t>(e.hwnd) < 0 ? "left " : "right ") + Signed(e.hwnd) +
                  " (not in the script)";
      }
      break;
    case EventArgs::Key: {
      const bool down = e.message == WM_KEYDOWN || e.message == WM_SYSKEYDOWN;
      const std::optional<std::string> keyName = getKeyCodeString(key, down);
      const bool repeat = key == g_step.lastKeyCode && g_step.lastKeyDown == down;
      if (keyName && !repeat) line = "Send(\"{" + *keyName + name->script + "}\")";
      g_step.lastKeyDown = down;
      break;
    }
    case EventArgs::PositionButton:
      if (name == nullptr) {
        line = "Unidentified event: XXX";
      } else {
        // AutoIt's mouse functions know no side buttons: the log says what
        // happened, the script gets nothing it cannot run.
        logOnly = std::string("Mouse ") +
                  (e.hwnd == XBUTTON1   ? "back"
                   : e.hwnd == XBUTTON2 ? "forward"
                                        : "side") +
                  " button " + (e.message == WM_XBUTTONDOWN ? "down" : "up") +
                  " (not in the script)";
      }
      break;
  }
  g_step.lastKeyCode = key;
  if (!logOnly.empty()) AddLogLine(logOnly);
  if (!line.empty()) {
    AddLogLine(line);
    std::string& script = ScriptText();
    script += line;
    script += "\r\n";
  }
  journal.Append(JournalEntry{1, lastEvent});
  recovery.Append(JournalEntry{1, lastEvent});
  if (const std::string failed = recovery.TakeFailure(); !failed.empty()) AddNotice(failed);
}

}  // namespace vesk
