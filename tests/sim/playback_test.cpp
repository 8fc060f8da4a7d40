// Tests of playback through the main window: passes, speed, pauses.
#include "harness.h"

namespace vesk::testing {
namespace {

// Drives the playback procedure by hand, as the system would.
class PlaybackStep : public ::testing::Test {
 protected:
  void Load(const std::vector<JournalEntry>& entries, bool recordedSpeed) {
    WriteSettings(1, false, recordedSpeed, "x.alg");
    WriteJournal("j.alg", entries);
    p.Start();
    p.sim.FailHook(WH_JOURNALPLAYBACK, false);
    // Play, but keep the simulated system from serving the hook itself:
    // the test makes every call.
    p.sim.AnswerFileDialog(p.dir.File("j.alg"));
    p.sim.Do([&] {
      auto& d = p.Dlg();
      d.journal.RemoveAll();
      ASSERT_TRUE(d.OpenJournal());
      d.cycle = 1;
      d.eventsPlayed = 0;
      d.currentEntry = d.journal.Head();
      d.playPosition = d.journal.HeadPosition();
      d.state = Playing;
      d.fetchNext = true;
      d.scheduleOrigin = Sys().GetMicroseconds();
      d.scheduleOffset = 0;
    });
    start = p.Log().size();
  }
  LResult Call(int code, EVENTMSG* out) {
    LResult r = 0;
    p.sim.Do([&] { r = p.Dlg().PlaybackStep(code, 0, reinterpret_cast<LParam>(out)); });
    return r;
  }
  SimProgram p;
  std::size_t start = 0;
};

// A backend that first waits for its input path (a permission dialog) asks
// late: the recorded gaps count from that first request, none fall due at once.
TEST_F(PlaybackStep, TheScheduleStartsAtTheFirstRequest) {
  Load({Move(1, 1, 700), Move(2, 2, 800), Move(3, 3, 700)}, true);
  p.sim.SetNow(p.sim.Now() + 2200);
  EVENTMSG e{};
  EXPECT_EQ(Call(HC_GETNEXT, &e), 700);
  p.sim.SetNow(p.sim.Now() + 700);
  EXPECT_EQ(Call(HC_GETNEXT, &e), 0);
  Call(HC_SKIP, &e);
  EXPECT_EQ(Call(HC_GETNEXT, &e), 800) << "the next gap in full";
}

TEST_F(PlaybackStep, RecordedSpeedWaitsUntilDueThenHandsOverAgain) {
  Load({Move(512, 384, 15), Move(1, 2, 0), Move(3, 4, 9)}, true);
  EVENTMSG e{};
  EXPECT_EQ(Call(HC_GETNEXT, &e), 15);
  EXPECT_EQ(e, (EVENTMSG{WM_MOUSEMOVE, 512, 384, 15, 0}));
  EVENTMSG again{};
  p.sim.SetNow(p.sim.Now() + 6);
  EXPECT_EQ(Call(HC_GETNEXT, &again), 9) << "asked again early: the rest of the wait";
  EXPECT_EQ(again, e);
  p.sim.SetNow(p.sim.Now() + 9);
  again = {};
  EXPECT_EQ(Call(HC_GETNEXT, &again), 0);  // due, and no other playback hook
  EXPECT_EQ(again, e);
  EXPECT_EQ(Call(HC_SKIP, nullptr), 0);
  EXPECT_EQ(Call(HC_GETNEXT, &e), 1) << "a delay of 0 still waits 1 ms";
  EXPECT_EQ(p.LogSince(start),
            (std::vector<std::string>{"             1 Mouse Move: (512,384)   +15",
                                      "             2 Mouse Move: (1,2)   +0"}));
}

TEST_F(PlaybackStep, DefaultSpeedPlaysOneEntryEveryTwentyMilliseconds) {
  Load({Move(1, 1, 500), Move(2, 2, 0), Move(3, 3, 7)}, false);
  EVENTMSG e{};
  EXPECT_EQ(Call(HC_GETNEXT, &e), 20);
  p.sim.SetNow(p.sim.Now() + 20);
  EXPECT_EQ(Call(HC_GETNEXT, &e), 0);
  Call(HC_SKIP, nullptr);
  EXPECT_EQ(Call(HC_GETNEXT, &e), 20);
  p.sim.SetNow(p.sim.Now() + 25);  // the system was late
  EXPECT_EQ(Call(HC_GETNEXT, &e), 0);
  Call(HC_SKIP, nullptr);
  EXPECT_EQ(Call(HC_GETNEXT, &e), 15) << "lateness is caught up on the same schedule";
}

TEST_F(PlaybackStep, TheLastEntryIsHandedOverOnceAndThenTheCycleEnds) {
  Load({Move(7, 8, 3), {0, {WM_KEYDOWN, 9, 9, 1, 0}}}, true);
  EVENTMSG e{};
  EXPECT_EQ(Call(HC_GETNEXT, &e), 3);
  EXPECT_EQ(Call(HC_GETNEXT, &e), 3) << "not due yet: the pass does not end early";
  EXPECT_EQ(p.Dlg().state, Playing);
  p.sim.SetNow(p.sim.Now() + 3);
  EVENTMSG untouched{0xAAAA, 0, 0, 0, 0};
  EXPECT_EQ(Call(HC_GETNEXT, &untouched), 0);
  EXPECT_EQ(untouched.message, 0xAAAAu) << "nothing is copied after the end";
  EXPECT_EQ(p.LogSince(start),
            (std::vector<std::string>{"             1 Mouse Move: (7,8)   +3",
                                      "Playback cycle ended.", "Playback stopped."}));
  EXPECT_EQ(p.Dlg().state, Stopped);
}

TEST_F(PlaybackStep, LabelsForEveryMessage) {
  const std::pair<std::uint32_t, const char*> labels[] = {
      {0x0201, " Mouse Left Btn Down: "},  {0x0202, " Mouse Left Btn Up: "},
      {0x0204, " Mouse Right Btn Down: "}, {0x0205, " Mouse Right Btn Up: "},
      {0x020A, " Mouse Wheel: "},          {0x0100, " Keyboard key down: "},
      {0x0101, " Keyboard key up: "},      {0x0104, " Keyboard sys. key down: "},
      {0x0105, " Keyboard sys. key up: "}, {0x0207, " Mouse Mid Btn Down: "},
      {0x0208, " Mouse Mid Btn Up: "},     {0x0219, " Unidentified message: (537)  "},
  };
  std::vector<JournalEntry> entries;
  for (const auto& l : labels) entries.push_back({1, {l.first, 1, 2, 30, 0}});
  entries.push_back(Move(0, 0, 0));
  Load(entries, true);
  EVENTMSG e{};
  for (std::size_t i = 0; i < std::size(labels); ++i) {
    Call(HC_GETNEXT, &e);
    Call(HC_SKIP, nullptr);
  }
  const auto lines = p.LogSince(start);
  ASSERT_EQ(lines.size(), std::size(labels));
  for (std::size_t i = 0; i < std::size(labels); ++i) {
    EXPECT_EQ(lines[i], "             " + std::to_string(i + 1) + labels[i].second + "(1,2)   +30");
  }
}

TEST_F(PlaybackStep, MousePositionsLeftOfThePrimaryMonitorAreLoggedSigned) {
  Load(
      {Move(0xFFFFFF9C, 0xFFFFFFFB, 3), {1, {WM_KEYDOWN, 0x1E41, 0x80000001, 3, 0}}, Move(0, 0, 0)},
      true);
  EVENTMSG e{};
  Call(HC_GETNEXT, &e);
  Call(HC_SKIP, nullptr);
  Call(HC_GETNEXT, &e);
  EXPECT_EQ(p.LogSince(start),
            (std::vector<std::string>{"             1 Mouse Move: (-100,-5)   +3",
                                      "             2 Keyboard key down: (7745,2147483649)   +3"}))
      << "key records keep their unsigned fields";
}

TEST_F(PlaybackStep, SkipBeforeAnyRequestOnlySetsFetchNext) {
  Load({Move(1, 1, 1), Move(2, 2, 2)}, true);
  EXPECT_EQ(Call(HC_SKIP, nullptr), 0);
  EXPECT_EQ(Call(3, nullptr), 0);  // an unknown code does nothing
  EVENTMSG e{};
  Call(HC_GETNEXT, &e);
  EXPECT_EQ(e.paramL, 1u);
  EXPECT_TRUE(p.LogSince(start).size() == 1);
}

TEST_F(PlaybackStep, EntriesWithAnotherTagArePassedOverSilently) {
  Load({{5, {WM_MOUSEMOVE, 9, 9, 1, 0}},
        Move(1, 1, 1),
        {0, {WM_KEYDOWN, 9, 9, 1, 0}},
        Move(2, 2, 2),
        Move(3, 3, 3)},
       true);
  EVENTMSG e{};
  Call(HC_GETNEXT, &e);
  EXPECT_EQ(e.paramL, 1u);
  Call(HC_SKIP, nullptr);
  Call(HC_GETNEXT, &e);
  EXPECT_EQ(e.paramL, 2u);
  EXPECT_EQ(p.LogSince(start), (std::vector<std::string>{"             1 Mouse Move: (1,1)   +1",
                                                         "             2 Mouse Move: (2,2)   +2"}));
}

TEST(Playback, EmptyJournalPassesEndAtOnce) {
  SimProgram p;
  WriteSettings(3, false, true, "x.alg");
  WriteFile("empty.alg", "");
  p.Start();
  p.Play(p.dir.File("empty.alg"));
  p.sim.Settle();
  const auto log = p.Log();
  EXPECT_EQ(Count(log, "Loaded 0 records from " + p.dir.File("empty.alg")), 1);
  EXPECT_EQ(Count(log, "Playback cycle ended."), 3);
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_TRUE(p.sim.Processed().empty());
}

TEST(Playback, ASystemPacedRunKeepsTheRecordedGaps) {
  SimProgram p;
  WriteJournal("j.alg", {Move(1, 1, 0), Move(2, 2, 50), Move(3, 3, 200), Move(4, 4, 10)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  const auto t0 = p.sim.Now();
  p.sim.Advance(1000);
  const auto& done = p.sim.Processed();
  ASSERT_EQ(done.size(), 3u);
  EXPECT_EQ(done[0].at - t0, 1u) << "recorded 0 ms after the start: still 1 ms later";
  EXPECT_EQ(done[1].at - t0, 50u);
  EXPECT_EQ(done[2].at - t0, 250u);
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_EQ(p.Main().alpha, 255);
}

TEST(Playback, WhilePlayingTheWindowIsSeeThroughAndClickThrough) {
  SimProgram p;
  WriteJournal("j.alg", {Move(1, 1, 100), Move(2, 2, 100)});
  p.Start();
  p.Play(p.dir.File("j.alg"));
  EXPECT_EQ(p.Dlg().state, Playing);
  EXPECT_EQ(p.Main().alpha, 89);
  EXPECT_NE(p.Main().exStyle & WS_EX_TRANSPARENT, 0u);
  EXPECT_FALSE(p.Enabled(IDC_RECORD));
  EXPECT_FALSE(p.Enabled(IDC_PLAY));
  EXPECT_FALSE(p.Enabled(IDC_STOP));
  EXPECT_TRUE(p.Enabled(IDC_SAVEBASIC));
}

}  // namespace
}  // namespace vesk::testing
