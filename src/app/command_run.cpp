// A `vesk play` run of the main window: the settings file only read, the
// command line's options applied to this run alone, a countdown, the
// journal played through the same path as the automatic run, the window
// closed at the end with an exit status a scheduler can read.
#include <algorithm>
#include <new>

#include "app/command_line.h"
#include "app/recorder_dialog.h"
#include "engine/hook_set.h"
#include "script/script_export.h"
#include "storage/journal_text.h"

namespace vesk {

void RecorderDialog::PrepareCommandRun() {
  if (!settings.Load()) {
    settings = VeskSettings{};
    const std::string line =
        "Failed to load settings from VeskSettings.auc, defaults used for this run.";
    AddLogLine(line);
    CommandReport(line);
  }
  const PlayOptions& run = *commandRun;
  if (run.repeat) settings.repeatCount = *run.repeat;
  loopPlayback = run.loop;
  if (run.defaultSpeed) settings.playAtRecordedSpeed = 0;
  if (run.speedPercent) {
    settings.playAtRecordedSpeed = 1;
    speedPercent = *run.speedPercent;
  }
}

void RecorderDialog::StartCommandRun() {
  const PlayOptions& run = *commandRun;
  const std::int32_t seconds = run.countdownSeconds.value_or(10);
  if (SignalNoted()) {
    EndBySignal();
    return;
  }
  if (seconds > 0) {
    AddLogLine("             ATTENTION !!!");
    AddLogLine("-------------------------------------------");
    AddLogLine("Vesk will play " + run.file + " in " + std::to_string(seconds) + " seconds.");
    AddLogLine("Press Ctrl+Break, then Stop, to end it.");
    AddLogLine("-------------------------------------------");
    // The notice must be on screen before the thread stops for the wait;
    // the wait is cut short by a signal.
    UpdateWindow();
    for (std::uint32_t left = static_cast<std::uint32_t>(seconds) * 1000u; left > 0;) {
      if (SignalNoted()) {
        EndBySignal();
        return;
      }
      const std::uint32_t slice = std::min<std::uint32_t>(left, 100);
      Sys().Sleep(slice);
      left -= slice;
    }
  }
  autoPlayback = true;
  autoRunUnfinished = true;
  AddLogLine("Command line playback started");
  currentEntry = nullptr;
  playPosition = Journal::npos;
  const JournalRead read = LoadJournalFile(run.file, journal, [] { ScriptText().clear(); });
  std::string failure;
  if (read == JournalRead::OpenFailed) {
    failure = "Failed to open " + run.file + " for reading";
  } else if (read != JournalRead::Loaded) {
    failure = JournalRefusedLine(read, run.file);
  } else if (run.edits.Any()) {
    try {
      Assign(journal, ApplyEdits(run.edits, EntriesOf(journal)));
    } catch (const std::bad_alloc&) {
      journal.RemoveAll();
      failure = "Could not edit " + run.file + ": not enough memory";
    }
  }
  bool playable = false;
  for (std::size_t i = 0; i < journal.Size() && !playable; ++i) playable = journal.At(i).tag == 1;
  if (failure.empty() && !playable) failure = run.file + " holds nothing to play";
  if (!failure.empty()) {
    // The file changed since the command line looked at it.
    AddLogLine(failure);
    CommandReport(failure);
    unfinishedExit = kExitNothingToPlay;
    PostMessage(WM_CLOSE, 0, 0);
    return;
  }
  textStream.Rewind();
  textStream << "Loaded " << journal.Count() << " records from " << run.file;
  AddComposedLine();
  BeginPlayback();
}

void RecorderDialog::EndBySignal() {
  if (state == Recording || state == RecordingPausedByUser || state == RecordingPausedBySystem) {
    if (HookSet* hooks = TheHookSet()) hooks->RemoveRecordHook();
    state = Stopped;
  }
  // Stopping releases what the journal holds down; so does closing.
  StopPlayback();
  PostMessage(WM_CLOSE, 0, 0);
}

void EndBySignal() {
  NoteSignal();
  HookSet* hooks = TheHookSet();
  if (hooks != nullptr && hooks->owner != nullptr) hooks->owner->EndBySignal();
}

}  // namespace vesk
