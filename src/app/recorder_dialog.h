// The main window and the program's central record.
//
// RecorderDialog is one class whose members live where their concern does:
//   app/recorder_dialog.cpp      construction, message map, start-up, log, painting
//   app/status_display.cpp       UpdateStatus: title, buttons, opacity per state
//   app/file_commands.cpp        SaveJournal, OpenJournal, SaveScript ("SaveBasic")
//   app/automatic_playback.cpp   OnAutomaticPlayback: the run at start-up
//   app/command_run.cpp          a `vesk play` run: its settings, countdown, signal
//   engine/recorder_states.cpp   Record, Play, Stop, pauses, passes, held input
//   engine/recording_step.cpp    RecordStep: one captured event into the journal
//   engine/playback_step.cpp     PlaybackStep: one journal entry handed to the system
//   engine/hook_set.cpp          the hook procedures that call into the steps
//   ui/settings_dialog.cpp       OnSettings: the settings dialog
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/text_stream.h"
#include "engine/held_input.h"
#include "platform/dialog.h"
#include "storage/journal.h"
#include "storage/recovery_journal.h"
#include "storage/settings.h"
#include "ui/layered_window_helper.h"

namespace vesk {

struct PlayOptions;

enum RecorderState : std::int32_t {
  Stopped = 0,
  RecordingPausedByUser = 1,
  RecordingPausedBySystem = 2,
  PlaybackPausedByUser = 3,
  PlaybackPausedBySystem = 4,
  Recording = 5,
  Playing = 6,
};

inline constexpr const char* kSupportAddress = "support@vesk.example";
// The log keeps at most this many lines, dropping the oldest in batches.
inline constexpr int kLogLineLimit = 50'000;
inline constexpr int kLogLinesTrimmed = 5'000;

class RecorderDialog : public Dialog {
 public:
  explicit RecorderDialog(Dialog* parent);
  ~RecorderDialog() override;

  // Log.
  void AddLogLine(const std::string& text);
  // A log line the backend may also show elsewhere (Diagnostics::Notice).
  void AddNotice(const std::string& text);
  // Passes the composed text of textStream to AddLogLine.
  void AddComposedLine();

  // Status display.
  void UpdateStatus();

  // Recorder states and transitions.
  void OnRecord();
  void OnPlay();
  void OnStop();
  LResult OnPlayAgain(WParam wParam, LParam lParam);
  void Pause(bool byUser);
  void BeginPlayback();
  void EndCycle();
  void StartRecording();
  void PauseRecording(bool byUser);
  void StopRecording();
  void StartPlayback();
  void StartCycle();
  void PausePlayback(bool byUser);
  void StopPlayback();

  // Per-event work inside the journal hooks.
  void RecordStep(int code, WParam wParam, LParam lParam);
  LResult PlaybackStep(int code, WParam wParam, LParam lParam);

  // Keys and buttons that replayed entries hold down: released while the
  // playback cannot go on, pressed again before it does.
  // keepForContinue: a pause, after which Continue Playback presses them again.
  void ReleaseHeldInput(bool keepForContinue);
  void RestoreHeldInput();

  // Journal file, script export, settings, automatic playback.
  // Failed when the chosen file could not be written: the journal is still
  // unsaved, and so it is when the dialog was cancelled.
  enum class SaveResult { Saved, Cancelled, Failed };
  SaveResult SaveJournal();
  bool OpenJournal();
  void SaveScript();
  void OnSettings();
  LResult OnAutomaticPlayback(WParam wParam, LParam lParam);

  // A `vesk play` run (command_run.cpp): settings only read, options
  // applied for this run, the journal played after the countdown.
  void PrepareCommandRun();
  void StartCommandRun();
  // SIGINT or SIGTERM: stop, release held input, close.
  void EndBySignal();

  // Painting of the minimised window and the drag icon.
  LResult OnPaint(WParam wParam, LParam lParam);
  LResult OnQueryDragIcon(WParam wParam, LParam lParam);

  // Members, in declaration order.
  LayeredWindowHelper layeredHelper;
  int icon = kAppIcon;
  Control recordButton;
  Control playButton;
  Control stopButton;
  Control logList;
  std::array<char, TextStream::kCapacity> textBuffer{};
  TextStream textStream{textBuffer};
  VeskSettings settings;
  std::int32_t state = Stopped;
  bool autoPlayback = false;
  Journal::Position playPosition = Journal::npos;
  EVENTMSG lastEvent{};
  bool fetchNext = false;
  JournalEntry* currentEntry = nullptr;
  std::uint32_t lastEventTime = 0;
  Journal journal;
  std::int32_t eventsPlayed = 0;
  std::int32_t cycle = 0;

  // Playback schedule, in microseconds of Sys().GetMicroseconds(): the
  // current stretch of a pass began at scheduleOrigin and the entry handed
  // over last is due at dueAt.
  std::uint64_t scheduleOrigin = 0;
  std::uint64_t scheduleOffset = 0;
  // The stretch begins at the first request for an entry, not when the hook
  // went in: a backend may first wait for its input path (a permission
  // dialog), and entries must not fall due during that wait.
  bool scheduleAnchored = false;
  std::uint64_t dueAt = 0;
  // The entry handed over before a pause was never processed: hand it over
  // again on Continue Playback.
  bool handOverAgain = false;
  // A pass has ended and the next one waits for "Play Again".
  bool passPending = false;
  // What processed entries hold down, and what a pause let go of, to
  // press again on Continue Playback.
  HeldInput heldInput;
  HeldInput heldAtPause;
  // The run started by the automatic playback has not reached its natural
  // end yet (the exit status tells a task scheduler).
  bool autoRunUnfinished = false;
  // The exit status when such a run did not finish.
  int unfinishedExit = 1;

  // The command-line run this window carries out (null: none), its pace
  // (percent of the recorded one) and whether it loops; whole passes played.
  const PlayOptions* commandRun = nullptr;
  std::int32_t speedPercent = 100;
  bool loopPlayback = false;
  std::int32_t passesPlayed = 0;
  // The copy of the recording on the disk, kept until the recording is
  // saved or declined.
  RecoveryJournal recovery;

 protected:
  bool OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;
  void OnDestroy() override;
};

}  // namespace vesk
