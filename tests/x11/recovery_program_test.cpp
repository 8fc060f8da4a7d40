// The real program's recovery journal: killed while it records, the next
// start recovers every event; a disk that refuses the journal costs the
// recording nothing.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "program_driver.h"
#include "spawn_program.h"
#include "storage/journal.h"
#include "storage/settings.h"

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class RecoveryProgram : public ::testing::Test {
 protected:
  RecoveryProgram() {
    XSetErrorHandler(&IgnoreXErrors);
    dir_ = fs::temp_directory_path() / ("vesk-recovery-test-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Settings there already: nothing but the journals is written.
    std::ofstream(dir_ / kSettingsFileName, std::ios::binary) << VeskSettings{}.Serialize();
    user_.Move(900, 700);
  }
  ~RecoveryProgram() override {
    for (pid_t pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts the program; its standard error goes to vesk-<n>.log.
  pid_t Start() {
    const pid_t pid = SpawnProgram({VESK_PROGRAM, dir_.string(), LogPath(pids_.size()).string()});
    if (pid != 0) pids_.push_back(pid);
    return pid;
  }
  fs::path LogPath(std::size_t n) const { return dir_ / ("vesk-" + std::to_string(n) + ".log"); }
  std::string Log(std::size_t n) const {
    std::ifstream in(LogPath(n));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  bool Appears(const char* title, Window* w) {
    return WaitFor([&] { return (*w = FindTitled(user_.dpy(), title)) != 0; }, [] {},
                   milliseconds(10000));
  }
  // Starts the program and clicks Record; the main window, or 0.
  Window StartRecording() {
    if (Start() == 0) return 0;
    Window main = 0;
    Window w = 0;
    if (!Appears("STOPPED - (Vesk)", &main)) return 0;
    HasFocusSoon(user_, main, milliseconds(2000));
    user_.FocusFollowsPointer();
    const auto record = ControlCentre(user_.dpy(), main, IDC_RECORD);
    user_.Click(record.first, record.second);
    return Appears("RECORDING - (Vesk), <Ctrl+Break> to PAUSE", &w) ? main : 0;
  }

  fs::path StateFolder() const { return fs::path(xvfb_.stateHome()) / "vesk"; }
  // The one recovery journal a running program writes.
  fs::path RecoveryJournal() const {
    std::error_code ec;
    for (auto it = fs::directory_iterator(StateFolder(), ec); !ec && it != fs::directory_iterator();
         ++it) {
      if (it->path().filename().string().starts_with("recording-")) return it->path();
    }
    return {};
  }
  static std::vector<EVENTMSG> Records(const fs::path& file) {
    Journal journal;
    std::vector<EVENTMSG> out;
    if (!ReadJournalFile(file.string(), journal, [] {})) return out;
    for (auto pos = journal.HeadPosition(); pos != Journal::npos;) {
      out.push_back(journal.GetNext(pos).event);
    }
    return out;
  }
  // Moves the pointer to a mark until the recovery journal shows it: from
  // then on the program records everything.
  bool MarkRecorded(int x, int y) {
    return WaitFor(
        [&] {
          for (const EVENTMSG& e : Records(RecoveryJournal())) {
            if (e.message == WM_MOUSEMOVE && e.paramL == static_cast<std::uint32_t>(x) &&
                e.paramH == static_cast<std::uint32_t>(y)) {
              return true;
            }
          }
          user_.Move(x, y - 1);
          user_.Move(x, y);
          return false;
        },
        [] { std::this_thread::sleep_for(milliseconds(50)); }, milliseconds(10000));
  }

 public:
  // Runs xdotool with the arguments, as a user's input.
  static bool Xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 protected:
  Xvfb xvfb_;
  FakeInput user_;
  fs::path dir_;
  std::vector<pid_t> pids_;
};

// The input sent after the mark, as recording gives it (keys by scan code
// x 256 + virtual-key code).
struct Sent {
  std::uint32_t message, paramL, paramH;
};
const std::vector<Sent> kSent = {
    {WM_MOUSEMOVE, 100, 300}, {WM_MOUSEMOVE, 110, 305}, {WM_KEYDOWN, 0x1E41, 0},
    {WM_KEYUP, 0x1E41, 0},    {WM_MOUSEMOVE, 120, 310}, {WM_KEYDOWN, 0x3042, 0},
    {WM_KEYUP, 0x3042, 0},    {WM_MOUSEMOVE, 130, 315},
};
constexpr int kMarkX = 500, kMarkY = 400;

bool SendAll() {
  for (const Sent& s : kSent) {
    const bool ok = s.message == WM_MOUSEMOVE
                        ? RecoveryProgram::Xdotool(
                              {"mousemove", std::to_string(s.paramL), std::to_string(s.paramH)})
                        : RecoveryProgram::Xdotool({s.message == WM_KEYDOWN ? "keydown" : "keyup",
                                                    s.paramL == 0x1E41 ? "a" : "b"});
    if (!ok) return false;
  }
  return true;
}

// The records after the last move to the mark, in kSent's form.
std::vector<Sent> AfterMark(const std::vector<EVENTMSG>& records) {
  std::vector<Sent> out;
  for (const EVENTMSG& e : records) {
    if (e.message == WM_MOUSEMOVE && e.paramL == kMarkX && e.paramH == kMarkY) {
      out.clear();
      continue;
    }
    out.push_back({e.message, e.paramL, e.message == WM_MOUSEMOVE ? e.paramH : 0});
  }
  return out;
}

bool operator==(const Sent& a, const Sent& b) {
  return a.message == b.message && a.paramL == b.paramL && a.paramH == b.paramH;
}
void PrintTo(const Sent& s, std::ostream* os) {
  *os << "{" << s.message << ", " << s.paramL << ", " << s.paramH << "}";
}

TEST_F(RecoveryProgram, KilledWhileRecordingTheNextStartRecoversEveryEvent) {
  ASSERT_NE(StartRecording(), 0u) << Log(0);
  ASSERT_TRUE(MarkRecorded(kMarkX, kMarkY)) << Log(0);
  const fs::path journal = RecoveryJournal();
  EXPECT_EQ(fs::status(journal).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(SendAll());
  // On the disk within a second, while the program still runs.
  ASSERT_TRUE(WaitFor([&] { return AfterMark(Records(journal)).size() >= kSent.size(); }, [] {},
                      milliseconds(5000)))
      << Log(0);
  const std::vector<EVENTMSG> before = Records(journal);
  kill(pids_[0], SIGKILL);
  waitpid(pids_[0], nullptr, 0);
  pids_.erase(pids_.begin());

  ASSERT_NE(Start(), 0);
  const std::regex line(
      "vesk: Recovered an unsaved recording of ([0-9]+) events, recorded "
      "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: (.*VeskRecovered-[-0-9]+\\.alg)\n");
  std::smatch m;
  std::string log;
  ASSERT_TRUE(
      WaitFor([&] { return std::regex_search(log = Log(0), m, line); }, [] {}, milliseconds(10000)))
      << log;
  const fs::path recovered = m[2].str();
  EXPECT_EQ(recovered.parent_path(), StateFolder());
  EXPECT_FALSE(fs::exists(journal)) << "renamed";
  const std::vector<EVENTMSG> records = Records(recovered);
  EXPECT_EQ(std::stoul(m[1].str()), records.size());
  EXPECT_EQ(AfterMark(records), kSent);
  EXPECT_EQ(records.size(), before.size());
}

TEST_F(RecoveryProgram, AJournalTheDiskRefusesCostsTheRecordingNothingAndIsReported) {
  const Window main = StartRecording();
  ASSERT_NE(main, 0u) << Log(0);
  const pid_t pid = pids_[0];
  // Files of the program may not grow past 2 kB, as on a full disk (its
  // standard error, a file here, stays well below).
  const rlimit tiny{2048, RLIM_INFINITY};
  ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, &tiny, nullptr), 0);
  Window w = 0;
  ASSERT_TRUE(SendAll());
  const std::string told =
      "vesk: This recording is not protected: could not write the recovery journal ";
  ASSERT_TRUE(WaitFor(
      [&] {
        user_.Move(kMarkX, kMarkY + 1);
        user_.Move(kMarkX, kMarkY);
        return Log(0).find(told) != std::string::npos;
      },
      [] {}, milliseconds(10000)))
      << Log(0);
  // The disk takes files again; the recording was kept in memory all along.
  const rlimit any{RLIM_INFINITY, RLIM_INFINITY};
  ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, &any, nullptr), 0);
  ASSERT_TRUE(SendAll());
  user_.Key(kKeyCtrlL, true);
  user_.Key(kKeyPause, true);
  user_.Key(kKeyPause, false);
  user_.Key(kKeyCtrlL, false);
  ASSERT_TRUE(Appears("PAUSED RECORDING - (Vesk)", &w)) << Log(0);
  const auto stop = ControlCentre(user_.dpy(), main, IDC_STOP);
  user_.Click(stop.first, stop.second);
  Window box = 0;
  ASSERT_TRUE(Appears("Vesk", &box)) << Log(0);
  EXPECT_TRUE(PressReturnIn(user_, box));
  Window save = 0;
  ASSERT_TRUE(Appears("Save journal as:", &save)) << Log(0);
  EXPECT_TRUE(PressReturnIn(user_, save));
  const fs::path saved = dir_ / "Journal.alg";
  ASSERT_TRUE(WaitFor([&] { return fs::exists(saved) && RecoveryJournal().empty(); }, [] {},
                      milliseconds(10000)))
      << Log(0);
  const std::vector<EVENTMSG> records = Records(saved);
  std::vector<Sent> first = AfterMark(records);
  // The first input, the marks, the second input, then Ctrl of Ctrl+Break.
  std::size_t marks = 0;
  for (const EVENTMSG& e : records) {
    if (e.message == WM_MOUSEMOVE && e.paramL == kMarkX && e.paramH == kMarkY) ++marks;
  }
  EXPECT_GE(marks, 1u);
  ASSERT_EQ(first.size(), kSent.size() + 1) << "then Ctrl";
  EXPECT_EQ(std::vector<Sent>(first.begin(), first.end() - 1), kSent);
  EXPECT_EQ(Log(0).find(told), Log(0).rfind(told)) << "told once";
}

}  // namespace
}  // namespace vesk::testing
