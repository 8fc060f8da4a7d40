// The program against files that are not what they seem: a device or a pipe
// named as the journal or as the settings file, and saves that fail at Stop.
#include <sys/stat.h>

#include "harness.h"

namespace vesk::testing {
namespace {

const std::string kSaveQuestion =
    "Recording has been stopped, do you want to save Journal to file?";

TEST(StartupFiles, ADeviceAPipeOrAFolderAsTheJournalIsAnOpenFailure) {
  for (const std::string journal : {"/dev/zero", "pipe.alg", "folder.alg"}) {
    SimProgram p;
    ASSERT_EQ(::mkfifo("pipe.alg", 0600), 0);
    std::filesystem::create_directory("folder.alg");
    WriteSettings(1, true, true, journal);
    p.Start();  // returns once the program waits for input: it never hangs here
    EXPECT_EQ(p.LastLog(), "Failed to open " + journal + " for reading");
    EXPECT_EQ(p.Dlg().state, Stopped);
    EXPECT_EQ(p.Dlg().journal.Count(), 0);
    EXPECT_TRUE(p.Running());
  }
}

TEST(StartupFiles, PlayingADeviceOrAPipeIsAnOpenFailureToo) {
  SimProgram p;
  p.Start();
  ASSERT_EQ(::mkfifo("pipe.alg", 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), p.dir.File("pipe.alg")}) {
    p.Play(path);
    EXPECT_EQ(p.LastLog(), "Could not open " + path + " for reading");
    EXPECT_EQ(p.Dlg().state, Stopped);
  }
  EXPECT_TRUE(p.Running());
}

TEST(StartupFiles, APipeAsTheSettingsFileGivesTheDefaults) {
  SimProgram p;
  ASSERT_EQ(::mkfifo(kSettingsFileName, 0600), 0);
  p.Start();
  const auto log = p.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "Failed to load settings from VeskSettings.auc, defaults loaded - creating.");
  EXPECT_EQ(p.Dlg().settings.repeatCount, 1);
  EXPECT_TRUE(p.Running());
  struct stat st {};
  ASSERT_EQ(::stat(kSettingsFileName, &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is left as it was";
}

// Records three moves and pauses; the Ctrl key-down of the pause is the fourth record.
void RecordSome(SimProgram& p) {
  p.sim.Click(p.main, IDC_RECORD);
  for (int i = 0; i < 3; ++i) p.sim.MouseMove(i, i);
  p.sim.CtrlBreak();
}

TEST(SaveAtStop, AFailedSaveAsksAgainUntilTheJournalIsSaved) {
  SimProgram p;
  p.Start();
  WriteFile("readonly.alg", "keep");
  ::chmod("readonly.alg", 0444);
  const std::string noFolder = p.dir.File("no/such/folder/rec.alg");
  const std::string readOnly = p.dir.File("readonly.alg");
  const std::string good = p.dir.File("rec.alg");
  RecordSome(p);
  for (const std::string& path : {noFolder, readOnly, good}) {
    p.sim.AnswerMessageBox(IDYES);
    p.sim.AnswerFileDialog(path);
  }
  const std::size_t before = p.Log().size();
  p.sim.Click(p.main, IDC_STOP);

  EXPECT_EQ(p.LogSince(before),
            (std::vector<std::string>{
                "Recording Stopped.", "Could not open " + noFolder + " for writing",
                "Could not open " + readOnly + " for writing", "Saved 4 records to " + good}));
  ASSERT_EQ(p.sim.MessageBoxes().size(), 3u);
  for (const auto& box : p.sim.MessageBoxes()) EXPECT_EQ(box.text, kSaveQuestion);
  EXPECT_EQ(p.sim.FileDialogs().size(), 3u);
  EXPECT_EQ(ReadFile(good).size(), 4u * kJournalRecordSize) << "the whole recording was kept";
  EXPECT_EQ(ReadFile(readOnly), "keep");
  EXPECT_EQ(p.Dlg().journal.Count(), 0) << "emptied once saved";
  EXPECT_TRUE(p.sim.Surprises().empty());
}

TEST(SaveAtStop, AfterAFailedSaveTheUserMayDecline) {
  SimProgram p;
  p.Start();
  const std::string path = p.dir.File("rec.alg");
  WriteFile(path, "previous journal");
  RecordSome(p);
  p.sim.AnswerMessageBox(IDYES);
  p.sim.AnswerFileDialog(path);
  p.sim.AnswerMessageBox(IDYES);
  p.sim.AnswerFileDialog(std::nullopt);  // the dialog cancelled: declined
  {
    FileSizeLimit limit(30);
    ASSERT_TRUE(limit.ok());
    p.sim.Click(p.main, IDC_STOP);
  }
  EXPECT_EQ(p.LastLog(), "Could not write " + path);
  EXPECT_EQ(p.sim.MessageBoxes().size(), 2u);
  EXPECT_EQ(ReadFile(path), "previous journal");
  EXPECT_EQ(p.Dlg().journal.Count(), 0);
  EXPECT_EQ(p.Dlg().state, Stopped);
  EXPECT_TRUE(p.sim.Surprises().empty());
}

}  // namespace
}  // namespace vesk::testing
