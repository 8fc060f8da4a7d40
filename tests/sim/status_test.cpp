// The status display: title, captions, enabled buttons and opacity of
// every state, and what an unknown state does.
#include "harness.h"

#include "app/recorder_dialog.h"

namespace vesk::testing {
namespace {

struct Expected {
  std::int32_t state;
  const char* title;
  const char* record;  // caption expected afterwards
  const char* play;
  bool recordOn, playOn, stopOn, clickThrough;
  int alpha;
};

RecorderDialog* MainDialog(SimProgram& p) { return &p.Dlg(); }

TEST(StatusDisplay, EveryStateShowsItsRow) {
  const Expected rows[] = {
      {0, "STOPPED - (Vesk)", "Record", "Play", true, true, false, false, 255},
      {1, "PAUSED RECORDING - (Vesk)", "Continue Recording", "Play", true, false, true, false, 255},
      {2, "PAUSED RECORDING - (Vesk)", "Continue Recording", "Play", true, false, true, false, 255},
      {3, "PAUSED PLAYBACK - (Vesk)", "Record", "Continue Playback", false, true, true, false, 255},
      {4, "PAUSED PLAYBACK - (Vesk)", "Record", "Continue Playback", false, true, true, false, 255},
      {5, "RECORDING - (Vesk), <Ctrl+Break> to PAUSE", "Record", "Play", false, false, false, true,
       89},
      {6, "PLAYING-(Vesk), <Ctrl+Break> to PAUSE", "Record", "Play", false, false, false, true, 89},
  };
  for (const auto& r : rows) {
    SimProgram p;
    p.Start();
    const int repaints = p.Main().repaints;
    p.sim.Do([&] {
      MainDialog(p)->state = r.state;
      MainDialog(p)->UpdateStatus();
    });
    EXPECT_EQ(p.Title(), r.title) << r.state;
    EXPECT_EQ(p.Caption(IDC_RECORD), r.record) << r.state;
    EXPECT_EQ(p.Caption(IDC_PLAY), r.play) << r.state;
    EXPECT_EQ(p.Enabled(IDC_RECORD), r.recordOn) << r.state;
    EXPECT_EQ(p.Enabled(IDC_PLAY), r.playOn) << r.state;
    EXPECT_EQ(p.Enabled(IDC_STOP), r.stopOn) << r.state;
    EXPECT_EQ((p.Main().exStyle & WS_EX_TRANSPARENT) != 0, r.clickThrough) << r.state;
    EXPECT_NE(p.Main().exStyle & WS_EX_LAYERED, 0u);
    EXPECT_NE(p.Main().exStyle & WS_EX_TOPMOST, 0u) << "no other style bit changes";
    EXPECT_EQ(p.Main().alpha, r.alpha) << r.state;
    for (int id : {IDC_SAVEBASIC, IDC_SETTINGS, IDC_EXIT}) EXPECT_TRUE(p.Enabled(id));
    // Repainted at once, with the new title on screen.
    EXPECT_EQ(p.Main().repaints, repaints + 1);
    EXPECT_EQ(p.Main().titleAtLastRepaint, r.title);
  }
}

TEST(StatusDisplay, UnchangedCaptionsKeepWhatThePreviousStateWrote) {
  SimProgram p;
  p.Start();
  p.sim.Do([&] {
    MainDialog(p)->state = RecordingPausedByUser;
    MainDialog(p)->UpdateStatus();
    MainDialog(p)->state = Recording;
    MainDialog(p)->UpdateStatus();
  });
  EXPECT_EQ(p.Caption(IDC_RECORD), "Continue Recording");
  p.sim.Do([&] {
    MainDialog(p)->state = PlaybackPausedBySystem;
    MainDialog(p)->UpdateStatus();
    MainDialog(p)->state = Playing;
    MainDialog(p)->UpdateStatus();
    MainDialog(p)->UpdateStatus();  // twice is the same as once
  });
  EXPECT_EQ(p.Caption(IDC_PLAY), "Continue Playback");
  EXPECT_EQ(p.Caption(IDC_RECORD), "Record");
}

TEST(StatusDisplay, AnUnknownStateWritesThreeLinesAndChangesNoControl) {
  SimProgram p;
  p.Start();
  const auto before = p.Main();
  p.sim.Do([&] {
    MainDialog(p)->state = 7;
    MainDialog(p)->UpdateStatus();
  });
  const auto log = p.Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "This is not supposed to happen!");
  EXPECT_EQ(log[log.size() - 2], "Please write to support@vesk.example");
  EXPECT_EQ(log[log.size() - 1], "and say you have a Vesk status problem.");
  EXPECT_EQ(p.Title(), before.title);
  EXPECT_EQ(p.Main().exStyle, before.exStyle);
  EXPECT_EQ(p.Main().alpha, before.alpha);
  EXPECT_TRUE(p.Enabled(IDC_RECORD));
  EXPECT_TRUE(p.Enabled(IDC_PLAY));
  EXPECT_FALSE(p.Enabled(IDC_STOP));
  EXPECT_EQ(p.Main().repaints, before.repaints + 1);
}

TEST(StatusDisplay, AnUnknownStateChangesNothingWhilePlayingEither) {
  SimProgram p;
  WriteJournal("j.alg", {Move(1, 1, 100), Move(2, 2, 100)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  const auto before = p.Main();
  p.sim.Do([&] {
    p.Dlg().state = 9;
    p.Dlg().UpdateStatus();
    p.Dlg().state = Playing;
  });
  EXPECT_EQ(p.LastLog(), "and say you have a Vesk status problem.");
  EXPECT_EQ(p.Title(), before.title);
  EXPECT_EQ(p.Main().alpha, before.alpha);
  EXPECT_EQ(p.Main().exStyle, before.exStyle);
  EXPECT_FALSE(p.Enabled(IDC_RECORD));
  EXPECT_FALSE(p.Enabled(IDC_PLAY));
  EXPECT_FALSE(p.Enabled(IDC_STOP));
}

}  // namespace
}  // namespace vesk::testing
