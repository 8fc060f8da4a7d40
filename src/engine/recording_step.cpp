#include "engine/recording_step.h"

#include <cstdio>
#include <optional>
#include <string>

#include "app/recorder_app.h"
#include "app/recorder_dialog.h"
#include "script/key_names.h"
#include "script/script_export.h"

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
  switch (e.message) {
    case WM_MOUSEMOVE:
      line = "MouseMove(" + Signed(e.paramL) + ", " + Signed(e.paramH) + ")";
      break;
    case WM_LBUTTONDOWN:
      line = "MouseDown(\"left\")";
      break;
    case WM_LBUTTONUP:
      line = "MouseUp(\"left\")";
      break;
    case WM_RBUTTONDOWN:
      line = "MouseDown(\"right\")";
      break;
    case WM_RBUTTONUP:
      line = "MouseUp(\"right\")";
      break;
    case WM_MBUTTONDOWN:
      line = "MouseDown(\"middle\")";
      break;
    case WM_MBUTTONUP:
      line = "MouseUp(\"middle\")";
      break;
    case WM_MOUSEWHEEL:
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      const std::optional<std::string> name = getKeyCodeString(key, true);
      const bool repeat = key == g_step.lastKeyCode && g_step.lastKeyDown;
      if (name && !repeat) line = "Send(\"{" + *name + " DOWN}\")";
      g_step.lastKeyDown = true;
      break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      const std::optional<std::string> name = getKeyCodeString(key, false);
      const bool repeat = key == g_step.lastKeyCode && !g_step.lastKeyDown;
      if (name && !repeat) line = "Send(\"{" + *name + " UP}\")";
      g_step.lastKeyDown = false;
      break;
    }
    default:
      line = "Unidentified event: XXX";
      break;
  }
  g_step.lastKeyCode = key;
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
