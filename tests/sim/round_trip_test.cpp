// Tests that a recorded journal plays back what was recorded.
#include "harness.h"

namespace vesk::testing {
namespace {

// Record scripted input, stop, save, open, play back: the system processes
// the recorded events (all but the last) on the recorded schedule, events
// recorded together 1 ms apart.
TEST(RoundTrip, RecordSaveOpenPlay) {
  SimProgram p;
  WriteSettings(1, false, true, "x.alg");
  p.Start();
  p.sim.Click(p.main, IDC_RECORD);
  p.sim.Advance(12);
  p.sim.MouseMove(100, 200);
  p.sim.Advance(30);
  p.sim.MouseButton(WM_LBUTTONDOWN, 100, 200);
  p.sim.Advance(80);
  p.sim.MouseButton(WM_LBUTTONUP, 100, 200);
  p.sim.KeyDown(0x10, 0x2A);
  p.sim.Advance(5);
  p.sim.KeyDown(0x48, 0x23);
  p.sim.KeyUp(0x48, 0x23);
  p.sim.KeyUp(0x10, 0x2A);
  p.sim.Wheel(100, 200, -120);
  p.sim.CtrlBreak();
  std::vector<EVENTMSG> recorded;
  for (std::size_t i = 0; i < p.Dlg().journal.Size(); ++i)
    recorded.push_back(p.Dlg().journal.At(i).event);
  ASSERT_EQ(recorded.size(), 9u);
  const std::string path = p.dir.File("trip.alg");
  p.sim.AnswerMessageBox(IDYES);
  p.sim.AnswerFileDialog(path);
  p.sim.Click(p.main, IDC_STOP);
  ASSERT_EQ(p.LastLog(), "Saved 9 records to " + path);

  p.Play(path);
  const auto start = p.sim.Now();
  p.sim.Advance(10000);
  const auto& played = p.sim.Processed();
  ASSERT_EQ(played.size(), recorded.size() - 1);
  std::uint64_t planned = start;
  std::uint64_t expected = start;
  for (std::size_t i = 0; i < played.size(); ++i) {
    planned += recorded[i].time;
    expected = std::max(planned, expected + 1);
    EXPECT_EQ(played[i].event, recorded[i]) << i;
    EXPECT_EQ(played[i].at, expected) << i;
  }
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_TRUE(p.sim.Surprises().empty());
}

}  // namespace
}  // namespace vesk::testing
