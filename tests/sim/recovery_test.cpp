// The recovery journal on the simulated desktop: which endings of a
// recording keep it, what the next start makes of it, and failures that
// must not cost the recording.
#include "harness.h"

#include <optional>

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;

class Recovery : public ::testing::Test {
 protected:
  // A program whose state folder outlives it, as the user's does.
  std::unique_ptr<SimProgram> Program() {
    auto p = std::make_unique<SimProgram>();
    p->sim.files.SetFolder(state);
    p->Start();
    return p;
  }
  // Record three moves, then pause.
  void RecordAndPause(SimProgram& p) {
    p.sim.Click(p.main, IDC_RECORD);
    for (int i = 1; i <= 3; ++i) p.sim.MouseMove(10 * i, 20 * i);
    p.sim.CtrlBreak();
  }
  std::vector<fs::path> Files(const std::string& prefix) {
    std::vector<fs::path> found;
    if (!fs::exists(state)) return found;
    for (const auto& e : fs::directory_iterator(state)) {
      if (e.path().filename().string().starts_with(prefix)) found.push_back(e.path());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  // The x of every mouse move in a journal file.
  std::vector<std::uint32_t> MovesIn(const fs::path& file) {
    Journal j;
    AppendRecords(ReadFile(file), j);
    std::vector<std::uint32_t> xs;
    for (std::size_t i = 0; i < j.Size(); ++i) {
      if (j.At(i).event.message == WM_MOUSEMOVE) xs.push_back(j.At(i).event.paramL);
    }
    return xs;
  }

  TempDir home;
  fs::path state = home.path() / "state" / "vesk";
};

const std::vector<std::uint32_t> kMoves = {10, 20, 30};

TEST_F(Recovery, SavedOrDeclinedRecordingsLeaveNoRecoveryJournal) {
  struct Ending {
    const char* name;
    std::vector<std::optional<std::string>> dialogs;  // save dialog answers
    int yeses;                                        // Yes answers before No
  };
  const std::vector<Ending> endings = {
      {"saved", {"saved.alg"}, 1},
      {"declined", {}, 0},
      {"failed save, then saved", {"no-such-folder/x.alg", "saved.alg"}, 2},
  };
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    auto p = Program();
    RecordAndPause(*p);
    ASSERT_EQ(Files("recording-").size(), 1u) << "written while recording";
    for (int i = 0; i < ending.yeses; ++i) p->sim.AnswerMessageBox(IDYES);
    if (ending.yeses == 0) p->sim.AnswerMessageBox(IDNO);
    for (const auto& answer : ending.dialogs) {
      p->sim.AnswerFileDialog(answer ? std::optional(p->dir.File(*answer)) : std::nullopt);
    }
    p->sim.Click(p->main, IDC_STOP);
    EXPECT_TRUE(Files("recording-").empty());
    if (!ending.dialogs.empty()) {
      EXPECT_EQ(MovesIn(p->dir.File("saved.alg")), kMoves);
    }
  }
}

TEST_F(Recovery, EveryOtherEndingKeepsItAndTheNextStartReportsIt) {
  using Finish = std::function<void(SimProgram&)>;
  const std::vector<std::pair<const char*, Finish>> endings = {
      {"Yes, then the save dialog cancelled",
       [](SimProgram& p) {
         p.sim.CtrlBreak();
         p.sim.AnswerMessageBox(IDYES);
         p.sim.AnswerFileDialog(std::nullopt);
         p.sim.Click(p.main, IDC_STOP);
       }},
      {"Exit while recording", [](SimProgram& p) { p.sim.PressEscape(); }},
      {"Exit while paused",
       [](SimProgram& p) {
         p.sim.CtrlBreak();
         p.sim.Click(p.main, IDC_EXIT);
       }},
      {"window closed", [](SimProgram& p) { p.sim.CloseBox(p.main); }},
      {"killed", [](SimProgram&) {}},  // the program ends without Stop
  };
  int n = 0;
  for (const auto& [name, finish] : endings) {
    SCOPED_TRACE(name);
    {
      auto p = Program();
      p->sim.Click(p->main, IDC_RECORD);
      for (int i = 1; i <= 3; ++i) p->sim.MouseMove(10 * i, 20 * i);
      finish(*p);
    }
    const auto left = Files("recording-");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].filename(), "recording-4242-20261207-153012.alg");
    EXPECT_EQ(MovesIn(left[0]), kMoves);
    // Exit by Escape records the key too.
    const auto records = fs::file_size(left[0]) / kJournalRecordSize;

    // The next start renames it beside the earlier ones and says where.
    auto next = Program();
    ++n;
    const std::string recovered =
        (state / (n == 1 ? std::string("VeskRecovered-2026-12-07-153012.alg")
                         : "VeskRecovered-2026-12-07-153012-" + std::to_string(n) + ".alg"))
            .string();
    const std::string line = "Recovered an unsaved recording of " + std::to_string(records) +
                             " events, recorded 2026-12-07 15:30:12: " + recovered;
    EXPECT_EQ(Count(next->Log(), line), 1);
    EXPECT_EQ(next->sim.Notices(), std::vector<std::string>{line});
    EXPECT_TRUE(Files("recording-").empty());
    EXPECT_EQ(next->sim.Surprises(), std::vector<std::string>{});
  }
  EXPECT_EQ(Files("VeskRecovered-").size(), endings.size());
}

TEST_F(Recovery, ARecordingInTheSameSecondTakesTheNextName) {
  {
    auto p = Program();
    RecordAndPause(*p);
    p->sim.AnswerMessageBox(IDYES);
    p->sim.AnswerFileDialog(std::nullopt);  // kept
    p->sim.Click(p->main, IDC_STOP);
    p->sim.Click(p->main, IDC_RECORD);
    p->sim.MouseMove(7, 8);
  }
  const auto left = Files("recording-");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[1].filename(), "recording-4242-20261207-153012.alg");
  EXPECT_EQ(left[0].filename(), "recording-4242-20261207-153012-2.alg");
  EXPECT_EQ(MovesIn(left[0]), std::vector<std::uint32_t>{7});
  auto next = Program();
  EXPECT_EQ(Files("VeskRecovered-2026-12-07-153012").size(), 2u);
}

TEST_F(Recovery, ARecoveredJournalPlaysAndADamagedTailIsDropped) {
  fs::create_directories(state);
  Journal j;
  for (std::uint32_t x : kMoves) j.Append(Move(x, 1, 10));
  // Zeros a power cut left after the last record, then a torn record.
  WriteFile(state / "recording-77-20261130-080910.alg",
            EncodeJournal(j) + std::string(24, '\0') + std::string(7, '\x01'));
  auto p = Program();
  const fs::path recovered = state / "VeskRecovered-2026-11-30-080910.alg";
  EXPECT_EQ(Count(p->Log(),
                  "Recovered an unsaved recording of 3 events, recorded 2026-11-30 "
                  "08:09:10: " +
                      recovered.string()),
            1);
  EXPECT_EQ(fs::file_size(recovered), 3 * kJournalRecordSize);
  p->Play(recovered.string());
  p->sim.Advance(1000);
  const auto log = p->Log();
  EXPECT_EQ(Count(log, "Loaded 3 records from " + recovered.string()), 1);
  EXPECT_EQ(Count(log, "Playback stopped."), 1);
  EXPECT_EQ(Count(log, "             3 Mouse Move: (30,1)   +10"), 1);
}

TEST_F(Recovery, ALiveRecordingAndOtherFilesAreLeftAlone) {
  fs::create_directories(state);
  const std::string live = (state / "recording-99-20261207-101010.alg").string();
  bool exists = false;
  const auto held = NativeStateFiles().CreateLocked(live, &exists);  // another program's
  ASSERT_NE(held, nullptr);
  for (const char* other :
       {"recording-x-20261207-101010.alg", "notes.alg", "recording-1-2026.alg"}) {
    WriteFile(state / other, std::string(24, '\x01'));
  }
  auto p = Program();
  for (const auto& line : p->Log()) EXPECT_EQ(line.find("Recovered"), std::string::npos) << line;
  EXPECT_TRUE(fs::exists(live));
  EXPECT_EQ(Files("VeskRecovered-").size(), 0u);
  EXPECT_EQ(Files("recording-").size(), 3u);
}

TEST_F(Recovery, AFailingDiskCostsNothingButProtectionAndSaysSoOnce) {
  auto p = Program();
  p->sim.Click(p->main, IDC_RECORD);
  p->sim.MouseMove(10, 20);
  p->sim.files.FailWrites(true);
  for (int i = 2; i <= 3; ++i) p->sim.MouseMove(10 * i, 20 * i);
  p->sim.CtrlBreak();
  p->sim.AnswerMessageBox(IDYES);
  p->sim.AnswerFileDialog(p->dir.File("saved.alg"));
  p->sim.Click(p->main, IDC_STOP);
  const std::string path = (state / "recording-4242-20261207-153012.alg").string();
  // Whether the first move reached the disk before the failure depends on
  // the writer's timing; the failure is told once all the same.
  EXPECT_EQ(Count(p->Log(),
                  "This recording is not protected: could not write the recovery "
                  "journal " +
                      path + "."),
            1);
  EXPECT_EQ(MovesIn(p->dir.File("saved.alg")), kMoves) << "the recording went on in memory";
  EXPECT_TRUE(Files("recording-").empty()) << "saved: removed";
}

TEST_F(Recovery, NoStateFolderStillRecords) {
  WriteFile(home.path() / "state", "a file where the folder should be");
  auto p = Program();
  p->sim.Click(p->main, IDC_RECORD);
  const auto lines = p->Log();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.starts_with("This recording is not protected: no folder");
                          }),
            1);
  p->sim.MouseMove(5, 6);
  EXPECT_EQ(p->Dlg().journal.Count(), 1);
  EXPECT_EQ(p->LastLog(), "MouseMove(5, 6)");
}

}  // namespace
}  // namespace vesk::testing
