// Behaviours whose loss no other test would notice: hooks that pass events
// on to the next program's hooks, a window that is gone getting no hook
// call, what the screen showed before a hook or a wait, and the recording
// state that lives as long as the process.
#include "harness.h"

#include "script/script_export.h"

namespace vesk::testing {
namespace {

// Hooks of another program installed before Vesk's, so Vesk's come first
// and must call the next one.
struct OtherProgram {
  static inline int recorded = 0;
  static inline std::vector<std::uint32_t> keys;
  static inline int playbackAnswers = 0;
  static inline bool behindVesk = false;
  static LResult Record(int code, WParam, LParam) {
    if (code == HC_ACTION) ++recorded;
    return 0;
  }
  static LResult Keyboard(int, WParam wParam, LParam lParam) {
    const auto* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if (wParam == WM_KEYDOWN) keys.push_back(k->vkCode);
    return 0;
  }
  // Behind Vesk's hook it asks the system to wait 7 ms more the first time
  // it is reached and lets the event go the second time; alone, before and
  // after, it has nothing to play for a long while.
  static LResult Playback(int code, WParam, LParam) {
    if (!behindVesk || code != HC_GETNEXT) return 100'000;
    switch (playbackAnswers++) {
      case 0:
        return 7;
      case 1:
        return 0;
      default:
        return 100'000;
    }
  }
};

TEST(HookChain, EveryProcedureHandsEventsOnToTheNextProgram) {
  OtherProgram::recorded = 0;
  OtherProgram::keys.clear();
  OtherProgram::playbackAnswers = 0;
  OtherProgram::behindVesk = false;
  SimProgram p;
  ASSERT_NE(p.sim.SetWindowsHookEx(WH_KEYBOARD_LL, &OtherProgram::Keyboard), 0u);
  ASSERT_NE(p.sim.SetWindowsHookEx(WH_JOURNALRECORD, &OtherProgram::Record), 0u);
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.MouseMove(1, 2);
  p.sim.KeyDown(0x41, 0x1E);
  p.sim.KeyUp(0x41, 0x1E);
  p.sim.CtrlBreak();
  // The move, the key, and Ctrl+Break but its swallowed Break down: the
  // other program's hook stays in after Vesk's pause.
  EXPECT_EQ(OtherProgram::recorded, 6);
  EXPECT_EQ(OtherProgram::keys, (std::vector<std::uint32_t>{0x41, VK_CONTROL}))
      << "every key-down but the swallowed Break";
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);

  WriteJournal("j.alg", {Move(1, 1, 10), Move(2, 2, 10)});
  p.sim.Do([] { Sys().SetWindowsHookEx(WH_JOURNALPLAYBACK, &OtherProgram::Playback); });
  OtherProgram::behindVesk = true;
  p.Play(p.dir.File("j.alg"));
  const auto start = p.sim.Now();
  p.sim.Advance(100);
  ASSERT_EQ(p.sim.Processed().size(), 1u);
  EXPECT_EQ(p.sim.Processed()[0].at, start + 10 + 7) << "the next playback hook's wait counts";
}

TEST(HookChain, AWindowThatIsGoneGetsNoHookCall) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  const auto lines = p.Log().size();
  // Ctrl+Break is still on its way when the window closes; the keyboard
  // hook outlives the window and sees it after the window is destroyed.
  p.sim.Do([&] {
    p.sim.CtrlBreak();
    p.Main().sink->HandleMessage(WM_CLOSE, 0, 0);
  });
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.Log().size(), lines) << "no pause reached the closed window";
  EXPECT_FALSE(p.sim.HookInstalled(WH_KEYBOARD_LL));
}

TEST(Painting, TheWindowIsRepaintedBeforeAJournalHookGoesIn) {
  SimProgram p;
  WriteJournal("j.alg", {Move(1, 1, 10), Move(2, 2, 10)});
  p.Start();
  const auto lastPaintBefore = [&](const std::string& hook) {
    const auto& t = p.sim.Trace();
    auto it = std::find(t.rbegin(), t.rend(), hook);
    EXPECT_NE(it, t.rend()) << hook;
    auto paint =
        std::find_if(it, t.rend(), [](const std::string& s) { return s.rfind("paint ", 0) == 0; });
    return paint == t.rend() ? std::string{} : paint->substr(6);
  };
  p.sim.Click(p.main, IDC_RECORD);
  EXPECT_EQ(lastPaintBefore("hook 0"), p.Title());
  p.sim.CtrlBreak();
  p.sim.AnswerMessageBox(IDNO);
  p.sim.Click(p.main, IDC_STOP);
  p.Play(p.dir.File("j.alg"));
  EXPECT_EQ(lastPaintBefore("hook 1"), p.Title());
  EXPECT_NE(p.Title(), "STOPPED - (Vesk)");
}

TEST(Painting, TheStartupNoticeIsOnScreenBeforeTheWait) {
  SimProgram p;
  WriteSettings(1, true, true, "VeskJournal.alg");
  WriteJournal("VeskJournal.alg", {Move(1, 1, 10), Move(2, 2, 10)});
  const auto t0 = p.sim.Now();
  p.Start();
  const auto& paints = p.Main().paints;
  auto notice = std::find_if(paints.begin(), paints.end(), [](const sim::SimPaint& paint) {
    return !paint.log.empty() && paint.log.back().empty() && paint.log.size() >= 9 &&
           paint.log[paint.log.size() - 9] == "             ATTENTION !!!";
  });
  ASSERT_NE(notice, paints.end()) << "a repaint showed the whole notice";
  EXPECT_EQ(notice->at, t0) << "painted before the 10 s wait, not after";
  EXPECT_EQ(std::count(notice->log.begin(), notice->log.end(), "Auto Playback Started"), 0);
}

TEST(Painting, TheNewestLogLineIsSelected) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  for (int i = 0; i < 5; ++i) p.sim.MouseMove(i, i);
  EXPECT_EQ(p.sim.ListGetCurSel(p.main, IDC_LOG), p.sim.ListGetCount(p.main, IDC_LOG) - 1);
  EXPECT_EQ(p.sim.ListGetText(p.main, IDC_LOG, p.sim.ListGetCurSel(p.main, IDC_LOG)),
            "MouseMove(4, 4)");
}

TEST(Painting, TheLogKeepsItsNewestLines) {
  SimProgram p;
  WriteSettings(1, false, false, "x.alg");
  std::vector<JournalEntry> entries;
  for (std::uint32_t i = 0; i < 56'000; ++i) entries.push_back(Move(i, 1, 0));
  WriteJournal("j.alg", entries);
  p.Start();
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(56'000 * 20 + 100);
  const auto log = p.Log();
  EXPECT_LE(log.size(), static_cast<std::size_t>(kLogLineLimit));
  EXPECT_GE(log.size(), static_cast<std::size_t>(kLogLineLimit - kLogLinesTrimmed));
  EXPECT_EQ(log.back(), "Playback stopped.");
  EXPECT_EQ(log[log.size() - 3], "             56000 Mouse Move: (55999,1)   +0");
  EXPECT_EQ(p.sim.ListGetCurSel(p.main, IDC_LOG), static_cast<int>(log.size()) - 1);
}

TEST(Startup, ADamagedSettingsFileIsReportedAndRewritten) {
  SimProgram p;
  WriteFile("VeskSettings.auc", std::string("\x05\x00\x00", 3));
  p.Start();
  EXPECT_EQ(p.Log().front(),
            "Failed to load settings from VeskSettings.auc, defaults loaded - creating.");
  VeskSettings reread;
  ASSERT_TRUE(reread.Load()) << "the file was rewritten whole";
  EXPECT_EQ(reread.repeatCount, 1);
  EXPECT_EQ(reread.defaultJournalPath, "VeskJournal.alg");
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

// The recording step's state and the key-name lock, across recordings.
class RecordingState : public ::testing::Test {
 protected:
  void SetUp() override { p.Start(); }
  void Record() {
    p.sim.Click(p.main, IDC_RECORD);
    from = p.Log().size();
  }
  void PauseAndStop() {
    p.sim.CtrlBreak();
    p.sim.AnswerMessageBox(IDNO);
    p.sim.Click(p.main, IDC_STOP);
  }
  std::vector<std::string> Lines() { return p.LogSince(from); }
  SimProgram p;
  std::size_t from = 0;
};

TEST_F(RecordingState, KeyUpsRepeatOnceAndSystemKeysGetLines) {
  Record();
  p.sim.KeyDown(0x12, 0x38, false, true);  // Alt
  p.sim.KeyDown(0x12, 0x38, false, true);
  p.sim.KeyUp(0x12, 0x38, false, true);
  p.sim.KeyUp(0x12, 0x38, false, true);  // a second up of the same key: no line
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Send(\"{LALT DOWN}\")", "Send(\"{LALT UP}\")"}));
  EXPECT_EQ(p.Dlg().journal.Count(), 4);
  EXPECT_EQ(p.sim.MutexOwnCount("getKeyCodeStringMutex"), 0) << "released after every lookup";
  EXPECT_GE(p.sim.MutexWaits(), 4);
}

TEST_F(RecordingState, ShiftCapsLockAndTheLastKeyOutliveARecording) {
  Record();
  p.sim.KeyDown(0x14, 0x3A);  // Caps Lock on
  p.sim.KeyUp(0x14, 0x3A);
  PauseAndStop();  // ends with the Ctrl key-down of Ctrl+Break
  Record();
  p.sim.KeyDown(VK_CONTROL, 0x1D);  // the same key down again: a repeat, no line
  p.sim.KeyUp(VK_CONTROL, 0x1D);
  p.sim.KeyDown(0x41, 0x1E);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Send(\"{LCTRL UP}\")", "Send(\"{A DOWN}\")"}))
      << "Caps Lock still on, last key still Ctrl down";
  p.sim.KeyUp(0x41, 0x1E);
  p.sim.KeyDown(0x10, 0x2A);  // Shift held into the next recording
  PauseAndStop();
  Record();
  p.sim.KeyDown(0x14, 0x3A);  // Caps Lock off
  p.sim.KeyUp(0x14, 0x3A);
  p.sim.KeyDown(0x41, 0x1E);
  EXPECT_EQ(Lines().back(), "Send(\"{A DOWN}\")") << "Shift is still down";
}

}  // namespace
}  // namespace vesk::testing
