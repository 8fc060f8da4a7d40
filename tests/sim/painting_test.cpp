// What the screen shows and when: repaints before a hook goes in or a wait
// begins, and the log list's newest lines, selected.
#include "harness.h"

namespace vesk::testing {
namespace {

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

}  // namespace
}  // namespace vesk::testing
