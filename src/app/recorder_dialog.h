// The main window and the program's central record.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/text_stream.h"
#include "platform/dialog.h"
#include "storage/journal.h"
#include "storage/settings.h"
#include "ui/layered_window_helper.h"

namespace vesk {

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

class RecorderDialog : public Dialog {
 public:
  explicit RecorderDialog(Dialog* parent);
  ~RecorderDialog() override;

  // Log.
  void AddLogLine(const std::string& text);
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
  void PausePlayback(bool byUser);
  void StopPlayback();

  // Per-event work inside the journal hooks.
  void RecordStep(int code, WParam wParam, LParam lParam);
  LResult PlaybackStep(int code, WParam wParam, LParam lParam);

  // Journal file, script export, settings, automatic playback.
  // False when the chosen file could not be written: the journal is still
  // unsaved. A cancelled dialog counts as declining.
  bool SaveJournal();
  bool OpenJournal();
  void SaveScript();
  void OnSettings();
  LResult OnAutomaticPlayback(WParam wParam, LParam lParam);

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

 protected:
  bool OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;
  void OnDestroy() override;
};

}  // namespace vesk
