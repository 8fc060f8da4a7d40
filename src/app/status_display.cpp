// The main window's status display: title, buttons and opacity for each state.
#include "app/recorder_dialog.h"

namespace vesk {

namespace {

struct StatusRow {
  std::int32_t state;
  const char* title;
  const char* recordCaption;  // null: left as it is
  const char* playCaption;    // null: left as it is
  bool record, play, stop;
  bool clickThrough;
  std::uint8_t opacity;
};

// Searched in this order; the first row that matches applies.
constexpr StatusRow kRows[] = {
    {Stopped, "STOPPED - (Vesk)", "Record", "Play", true, true, false, false, 100},
    {Playing, "PLAYING-(Vesk), <Ctrl+Break> to PAUSE", "Record", nullptr, false, false, false, true,
     35},
    {Recording, "RECORDING - (Vesk), <Ctrl+Break> to PAUSE", nullptr, "Play", false, false, false,
     true, 35},
    {PlaybackPausedByUser, "PAUSED PLAYBACK - (Vesk)", "Record", "Continue Playback", false, true,
     true, false, 100},
    {PlaybackPausedBySystem, "PAUSED PLAYBACK - (Vesk)", "Record", "Continue Playback", false, true,
     true, false, 100},
    {RecordingPausedByUser, "PAUSED RECORDING - (Vesk)", "Continue Recording", "Play", true, false,
     true, false, 100},
    {RecordingPausedBySystem, "PAUSED RECORDING - (Vesk)", "Continue Recording", "Play", true,
     false, true, false, 100},
};

}  // namespace

void RecorderDialog::UpdateStatus() {
  const StatusRow* row = nullptr;
  for (const StatusRow& r : kRows) {
    if (r.state == state) {
      row = &r;
      break;
    }
  }
  if (row == nullptr) {
    AddLogLine("This is not supposed to happen!");
    AddLogLine(std::string("Please write to ") + kSupportAddress);
    AddLogLine("and say you have a Vesk status problem.");
  } else {
    const WindowId w = GetSafeHwnd();
    const std::uint32_t ex = Sys().GetWindowLong(w, GWL_EXSTYLE);
    Sys().SetWindowLong(w, GWL_EXSTYLE,
                        row->clickThrough ? (ex | WS_EX_TRANSPARENT) : (ex & ~WS_EX_TRANSPARENT));
    layeredHelper.SetOpacity(w, row->opacity);
    SetWindowText(row->title);
    if (row->recordCaption != nullptr) recordButton.SetText(row->recordCaption);
    if (row->playCaption != nullptr) playButton.SetText(row->playCaption);
    recordButton.Enable(row->record);
    playButton.Enable(row->play);
    stopButton.Enable(row->stop);
  }
  UpdateWindow();
}

}  // namespace vesk
