#include "app/recorder_app.h"
#include "app/recorder_dialog.h"
#include "engine/hook_set.h"

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
  state = byUser ? RecordingPausedByUser : RecordingPausedBySystem;
  UpdateStatus();
}

void RecorderDialog::StopRecording() {
  // Reached from Recording only through a direct call; never keep capturing.
  RemoveRecord();
  state = Stopped;
  AddLogLine("Recording Stopped.");
  UpdateStatus();
  // A failed save keeps the recording: the question comes again until the
  // journal is saved or the user declines.
  while (Sys().MessageBox(GetSafeHwnd(),
                          "Recording has been stopped, do you want to save Journal to file?",
                          "Vesk", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES &&
         !SaveJournal()) {
  }
  journal.RemoveAll();
  currentEntry = nullptr;
  playPosition = Journal::npos;
}

void RecorderDialog::OnPlay() {
  if (state == Playing) return;
  if (state == PlaybackPausedByUser || state == PlaybackPausedBySystem) {
    StartPlayback();
    return;
  }
  journal.RemoveAll();
  currentEntry = nullptr;
  playPosition = Journal::npos;
  if (OpenJournal()) BeginPlayback();
}

void RecorderDialog::BeginPlayback() {
  cycle = 1;
  OnPlayAgain(0, 0);
}

LResult RecorderDialog::OnPlayAgain(WParam, LParam) {
  eventsPlayed = 0;
  currentEntry = journal.Head();
  playPosition = journal.HeadPosition();
  StartPlayback();
  return 0;
}

void RecorderDialog::StartPlayback() {
  state = Playing;
  UpdateStatus();
  fetchNext = true;
  if (!InstallPlayback()) {
    AddLogLine("Could not start playback: the system refused the playback hook.");
    PausePlayback(false);
  }
}

void RecorderDialog::PausePlayback(bool byUser) {
  RemovePlayback();
  state = byUser ? PlaybackPausedByUser : PlaybackPausedBySystem;
  UpdateStatus();
}

void RecorderDialog::EndCycle() {
  RemovePlayback();
  AddLogLine("Playback cycle ended.");
  UpdateStatus();
  cycle = cycle + 1;
  if (cycle <= settings.repeatCount) {
    PostMessage(g_playAgainMessage, 0, 0);
  } else {
    StopPlayback();
    if (autoPlayback) PostMessage(WM_CLOSE, 0, 0);
  }
}

void RecorderDialog::StopPlayback() {
  if (state == Stopped) return;
  state = Stopped;
  RemovePlayback();
  journal.RemoveAll();
  currentEntry = nullptr;
  playPosition = Journal::npos;
  AddLogLine("Playback stopped.");
  UpdateStatus();
}

void RecorderDialog::Pause(bool byUser) {
  AddLogLine(byUser ? "PAUSED BY USER" : "PAUSED BY SYSTEM");
  if (state == Recording) PauseRecording(byUser);
  if (state == Playing) PausePlayback(byUser);
}

void RecorderDialog::OnStop() {
  if (state == RecordingPausedByUser || state == RecordingPausedBySystem || state == Recording) {
    StopRecording();
  } else if (state == PlaybackPausedByUser || state == PlaybackPausedBySystem || state == Playing) {
    StopPlayback();
  }
}

}  // namespace vesk
