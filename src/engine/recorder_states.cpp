// The recorder's states and transitions: Record, Play, Stop, pauses and passes.
#include "app/command_line.h"
#include "app/recorder_app.h"
#include "app/recorder_dialog.h"
#include "engine/hook_set.h"

#include <string>
#include <vector>

namespace vesk {

namespace {
// Outside a running program there is no hook set and nothing is installed.
bool InstallRecord() {
  HookSet* hs = TheHookSet();
  if (hs != nullptr) hs->InstallRecordHook();
  return hs != nullptr && hs->recordHook != 0;
}
bool InstallPlayback() {
  HookSet* hs = TheHookSet();
  if (hs != nullptr) hs->InstallPlaybackHook();
  return hs != nullptr && hs->playbackHook != 0;
}
void RemoveRecord() {
  if (HookSet* hs = TheHookSet()) hs->RemoveRecordHook();
}
void RemovePlayback() {
  if (HookSet* hs = TheHookSet()) hs->RemovePlaybackHook();
}
}  // namespace

void RecorderDialog::OnRecord() { StartRecording(); }

void RecorderDialog::StartRecording() {
  if (state == Stopped) {
    const std::string path = Sys().Notes().InputPathNote(false);
    if (!path.empty()) AddLogLine(path);
    // From here every event also goes to the disk; a recording the disk
    // refuses goes on in memory.
    const std::string unprotected = recovery.Begin(Sys().Files());
    if (!unprotected.empty()) AddNotice(unprotected);
  }
  state = Recording;
  UpdateStatus();
  lastEventTime = Sys().GetTickCount();
  if (!InstallRecord()) {
    // Nothing would be captured while the window says RECORDING.
    AddLogLine("Could not start recording: the system refused the input hook.");
    PauseRecording(false);
  }
}

void RecorderDialog::PauseRecording(bool byUser) {
  RemoveRecord();
  if (const std::string failed = recovery.TakeFailure(); !failed.empty()) AddNotice(failed);
  state = byUser ? RecordingPausedByUser : RecordingPausedBySystem;
  UpdateStatus();
}

void RecorderDialog::StopRecording() {
  // Reached from Recording only through a direct call; never keep capturing.
  RemoveRecord();
  state = Stopped;
  AddLogLine("Recording Stopped.");
  UpdateStatus();
  recovery.Flush();
  if (const std::string failed = recovery.TakeFailure(); !failed.empty()) AddNotice(failed);
  // A failed save keeps the recording: the question comes again until the
  // journal is saved or the user declines. The recovery journal goes only
  // then; a save dialog cancelled after Yes keeps it.
  bool safe = false;
  while (true) {
    if (Sys().MessageBox(GetSafeHwnd(),
                         "Recording has been stopped, do you want to save Journal to file?", "Vesk",
                         MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES) {
      safe = true;
      break;
    }
    const SaveResult saved = SaveJournal();
    if (saved == SaveResult::Failed) continue;
    safe = saved == SaveResult::Saved;
    break;
  }
  recovery.End(/*remove=*/safe);
  journal.RemoveAll();
  currentEntry = nullptr;
  playPosition = Journal::npos;
}

void RecorderDialog::OnPlay() {
  if (state == Playing) return;
  if (state == PlaybackPausedByUser || state == PlaybackPausedBySystem) {
    RestoreHeldInput();
    // A pass that ended just before the pause goes on with the next one.
    if (passPending) {
      StartCycle();
    } else {
      StartPlayback();
    }
    return;
  }
  journal.RemoveAll();
  currentEntry = nullptr;
  playPosition = Journal::npos;
  if (OpenJournal()) BeginPlayback();
}

void RecorderDialog::BeginPlayback() {
  cycle = 1;
  passesPlayed = 0;
  heldInput.Clear();
  heldAtPause.Clear();
  const std::string path = Sys().Notes().InputPathNote(true);
  if (!path.empty()) AddLogLine(path);
  StartCycle();
}

LResult RecorderDialog::OnPlayAgain(WParam, LParam) {
  // A pause or a Stop that came after the pass ended wins over the message
  // already on its way.
  if (state != Playing || !passPending) return 0;
  StartCycle();
  return 0;
}

void RecorderDialog::StartCycle() {
  passPending = false;
  handOverAgain = false;
  eventsPlayed = 0;
  currentEntry = journal.Head();
  playPosition = journal.HeadPosition();
  StartPlayback();
}

void RecorderDialog::StartPlayback() {
  state = Playing;
  UpdateStatus();
  fetchNext = true;
  // The rest of the pass keeps its recorded spacing from this moment.
  scheduleOrigin = Sys().GetMicroseconds();
  scheduleOffset = 0;
  scheduleAnchored = false;
  if (!InstallPlayback()) {
    AddLogLine("Could not start playback: the system refused the playback hook.");
    PausePlayback(false);
    if (commandRun != nullptr) {
      // Nobody is there to try again: no way to send input here.
      unfinishedExit = kExitNoInput;
      PostMessage(WM_CLOSE, 0, 0);
    }
  }
}

void RecorderDialog::PausePlayback(bool byUser) {
  RemovePlayback();
  // Handed over but never processed: Continue Playback hands it over again.
  handOverAgain = handOverAgain || (!passPending && !fetchNext && currentEntry != nullptr);
  state = byUser ? PlaybackPausedByUser : PlaybackPausedBySystem;
  UpdateStatus();
  ReleaseHeldInput(true);
}

void RecorderDialog::EndCycle() {
  RemovePlayback();
  AddLogLine("Playback cycle ended.");
  UpdateStatus();
  if (cycle < 0x7FFFFFFF) cycle = cycle + 1;
  if (passesPlayed < 0x7FFFFFFF) passesPlayed = passesPlayed + 1;
  if (loopPlayback || cycle <= settings.repeatCount) {
    passPending = true;
    PostMessage(g_playAgainMessage, 0, 0);
  } else {
    if (autoPlayback) autoRunUnfinished = false;
    StopPlayback();
    if (autoPlayback) PostMessage(WM_CLOSE, 0, 0);
  }
}

void RecorderDialog::StopPlayback() {
  if (state == Stopped) return;
  state = Stopped;
  RemovePlayback();
  passPending = false;
  handOverAgain = false;
  journal.RemoveAll();
  currentEntry = nullptr;
  playPosition = Journal::npos;
  ReleaseHeldInput(false);
  heldAtPause.Clear();
  AddLogLine("Playback stopped.");
  UpdateStatus();
}

namespace {
std::string HeldCount(std::size_t n) {
  return n == 1 ? std::string("1 held key or button")
                : std::to_string(n) + " held keys and buttons";
}
}  // namespace

void RecorderDialog::ReleaseHeldInput(bool keepForContinue) {
  if (heldInput.Empty()) return;
  const std::vector<EVENTMSG> events = heldInput.ReleaseEvents();
  const std::uint32_t sent = Sys().SendInput(events);
  if (sent >= events.size()) {
    AddLogLine("Released " + HeldCount(heldInput.Count()) + ".");
  } else {
    AddLogLine("Could not release " + HeldCount(events.size() - sent) +
               ": the system refused the input.");
  }
  if (keepForContinue) heldAtPause = heldInput;
  heldInput.Clear();
}

void RecorderDialog::RestoreHeldInput() {
  if (heldAtPause.Empty()) return;
  const std::vector<EVENTMSG> events = heldAtPause.PressEvents();
  const std::uint32_t sent = Sys().SendInput(events);
  if (sent >= events.size()) {
    AddLogLine("Restored " + HeldCount(heldAtPause.Count()) + ".");
  } else {
    AddLogLine("Could not restore " + HeldCount(heldAtPause.Count()) +
               ": the system refused the input.");
  }
  heldInput = heldAtPause;
  heldAtPause.Clear();
}

void RecorderDialog::Pause(bool byUser) {
  AddLogLine(byUser ? "PAUSED BY USER" : "PAUSED BY SYSTEM");
  std::string cancelLine = "the system cancelled the playback";
  if (!byUser) {
    const std::string reason = Sys().Notes().TakeCancelReason();
    if (!reason.empty()) AddLogLine(reason);
    if (!reason.empty()) cancelLine = reason;
  }
  if (state == Recording) PauseRecording(byUser);
  if (state == Playing) {
    PausePlayback(byUser);
    // Unattended, nobody would ever continue a run the system took away
    // (a locked screen, a refused permission): it ends, unfinished.
    if (!byUser && commandRun != nullptr) {
      CommandReport(cancelLine);
      PostMessage(WM_CLOSE, 0, 0);
    }
  }
}

void RecorderDialog::OnStop() {
  if (state == RecordingPausedByUser || state == RecordingPausedBySystem || state == Recording) {
    StopRecording();
  } else if (state == PlaybackPausedByUser || state == PlaybackPausedBySystem || state == Playing) {
    // A looping run the user ends after a whole pass has done its work.
    if (commandRun != nullptr && loopPlayback && passesPlayed >= 1 &&
        state == PlaybackPausedByUser) {
      autoRunUnfinished = false;
    }
    StopPlayback();
    if (commandRun != nullptr) PostMessage(WM_CLOSE, 0, 0);
  }
}

}  // namespace vesk
