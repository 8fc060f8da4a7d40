// Side buttons and sideways scrolling: recorded into the journal with the
// button or delta in hwnd, logged readably, left out of the AutoIt script,
// replayed, and held apart button by button when playback pauses.
#include "harness.h"

#include "script/script_export.h"

namespace vesk::testing {
namespace {

JournalEntry Side(std::uint32_t message, std::uint32_t button, std::uint32_t delay) {
  return {1, {message, 40, 50, delay, button}};
}

TEST(SideButtons, RecordingJournalsThemLogsThemAndKeepsThemOutOfTheScript) {
  SimProgram p;
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  const std::size_t start = p.Log().size();
  const std::size_t scriptBefore = ScriptText().size();
  p.sim.Input({WM_XBUTTONDOWN, 3, 4, 0, XBUTTON1});
  p.sim.Input({WM_XBUTTONUP, 3, 4, 0, XBUTTON1});
  p.sim.Input({WM_XBUTTONDOWN, 3, 4, 0, XBUTTON2});
  p.sim.Input({WM_MOUSEHWHEEL, 3, 4, 0, static_cast<std::uint32_t>(-120)});
  p.sim.Input({WM_MOUSEHWHEEL, 3, 4, 0, 240});
  p.sim.MouseButton(WM_LBUTTONDOWN, 3, 4);
  EXPECT_EQ(
      p.LogSince(start),
      (std::vector<std::string>{
          "Mouse back button down (not in the script)", "Mouse back button up (not in the script)",
          "Mouse forward button down (not in the script)",
          "Mouse wheel left -120 (not in the script)", "Mouse wheel right 240 (not in the script)",
          "MouseDown(\"left\")"}));
  EXPECT_EQ(ScriptText().substr(scriptBefore), "MouseDown(\"left\")\r\n");
  const Journal& j = p.Dlg().journal;
  ASSERT_EQ(j.Count(), 6);
  EXPECT_EQ(j.At(0).event.hwnd, XBUTTON1);
  EXPECT_EQ(j.At(2).event.hwnd, XBUTTON2);
  EXPECT_EQ(j.At(3).event.hwnd, static_cast<std::uint32_t>(-120));
  EXPECT_EQ(j.At(4).event.message, WM_MOUSEHWHEEL);
}

TEST(SideButtons, PlaybackLogsThemAndAPauseReleasesBothSideButtonsAndPressesThemAgain) {
  SimProgram p;
  WriteJournal("j.alg",
               {Side(WM_XBUTTONDOWN, XBUTTON1, 10), Side(WM_XBUTTONDOWN, XBUTTON2, 10),
                Side(WM_MOUSEHWHEEL, 120, 10), Side(WM_XBUTTONUP, XBUTTON1, 5000), Move(0, 0, 0)});
  p.Start();
  const std::size_t start = p.Log().size();
  p.Play(p.dir.File("j.alg"));
  p.sim.Advance(100);
  const std::vector<std::uint32_t> both = {WM_XBUTTONDOWN | XBUTTON1 << 16,
                                           WM_XBUTTONDOWN | XBUTTON2 << 16};
  ASSERT_EQ(p.sim.HeldButtons(), both) << "two side buttons are two held buttons";
  const auto lines = p.LogSince(start);
  EXPECT_EQ(Count(lines, "             1 Mouse Back Btn Down: (40,50)   +10"), 1);
  EXPECT_EQ(Count(lines, "             2 Mouse Forward Btn Down: (40,50)   +10"), 1);
  EXPECT_EQ(Count(lines, "             3 Mouse Wheel Right: (40,50)   +10"), 1);

  p.sim.CtrlBreak();
  EXPECT_TRUE(p.sim.HeldButtons().empty());
  EXPECT_EQ(p.LastLog(), "Released 2 held keys and buttons.");
  p.sim.Click(p.main, IDC_PLAY);
  EXPECT_EQ(p.sim.HeldButtons(), both) << "pressed again on Continue";
  // The journal's own release of the back button lets go of that one only.
  p.sim.Advance(10'000);
  EXPECT_TRUE(p.sim.HeldButtons().empty()) << "the end of playback releases the forward button";
  EXPECT_EQ(Count(p.Log(), "Released 1 held key or button."), 1);
}

}  // namespace
}  // namespace vesk::testing
