// `vesk play` and the windowless commands, run as a scheduler or a shell
// runs them, under Xvfb: each row of the exit status table.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "app/command_line.h"
#include "program_driver.h"
#include "spawn_program.h"
#include "storage/journal.h"

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class PlayCommand : public ::testing::Test {
 protected:
  PlayCommand() {
    XSetErrorHandler(&IgnoreXErrors);
    dir_ = fs::temp_directory_path() / ("vesk-play-test-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~PlayCommand() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void WriteJournal(const std::string& name, const std::vector<JournalEntry>& entries) {
    Journal j;
    for (const auto& e : entries) j.Append(e);
    std::ofstream(dir_ / name, std::ios::binary) << EncodeJournal(j);
  }

  // Starts the program in the test's folder with these arguments; stdout
  // and stderr go to a file. display: the DISPLAY it sees (null: none).
  void Start(std::vector<std::string> args, const char* display = std::getenv("DISPLAY")) {
    Spawn spawn{VESK_PROGRAM, dir_.string(), (dir_ / "out.txt").string(), std::move(args)};
    spawn.env = {display != nullptr ? std::string("DISPLAY=") + display : "DISPLAY"};
    spawn.withStdout = true;
    pid_ = SpawnProgram(spawn);
    ASSERT_NE(pid_, 0);
  }

  int WaitForExit(
      milliseconds limit, const std::function<void()>& pump = [] {}) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, pump, limit)) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  int Run(std::vector<std::string> args, const char* display = std::getenv("DISPLAY")) {
    Start(std::move(args), display);
    return WaitForExit(milliseconds(20000));
  }

  std::string Output() const {
    std::ifstream in(dir_ / "out.txt");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // The program takes the focus when its window appears (during the
  // countdown); give it back to the pointer, as a desktop would.
  void HandFocusBack(FakeInput& user, const std::function<void()>& pump) {
    Window main = 0;
    ASSERT_TRUE(WaitFor([&] { return (main = FindTitled(user.dpy(), "STOPPED - (Vesk)")) != 0; },
                        pump, milliseconds(10000)))
        << Output();
    HasFocusSoon(user, main, milliseconds(2000));
    user.FocusFollowsPointer();
  }

  Xvfb xvfb_;
  fs::path dir_;
  pid_t pid_ = 0;
};

JournalEntry Key(std::uint32_t message, std::uint32_t code, std::uint32_t delay) {
  return {1, {message, code, 1, delay, 0}};
}

// Taps of A and B into the target, 200 ms apart at recorded speed.
std::vector<JournalEntry> Taps() {
  return {{1, {WM_MOUSEMOVE, 80, 70, 0, 0}}, Key(WM_KEYDOWN, 0x1E41, 50),
          Key(WM_KEYUP, 0x1E41, 200),        Key(WM_KEYDOWN, 0x3042, 200),
          Key(WM_KEYUP, 0x3042, 200),        {1, {WM_MOUSEMOVE, 80, 70, 30, 0}}};
}

TEST_F(PlayCommand, WindowlessRowsOfTheTable) {
  WriteJournal("none.alg", {});
  WriteJournal("taps.alg", Taps());
  EXPECT_EQ(Run({"play"}), kExitBadArguments) << Output();
  EXPECT_NE(Output().find("Usage: vesk"), std::string::npos);
  EXPECT_EQ(Run({"play", "missing.alg"}), kExitNothingToPlay) << Output();
  EXPECT_EQ(Run({"play", "none.alg"}), kExitNothingToPlay) << Output();
  EXPECT_EQ(Run({"play", "taps.alg"}, nullptr), kExitNoInput) << Output();
  EXPECT_EQ(Run({"play", "taps.alg"}, ":97"), kExitNoInput) << Output();
  // No display needed to look into a journal or convert it.
  EXPECT_EQ(Run({"check", "taps.alg"}, nullptr), 0) << Output();
  EXPECT_NE(Output().find("taps.alg: 6 events, 6 to play"), std::string::npos) << Output();
  EXPECT_EQ(Run({"text", "taps.alg", "-o", "taps.txt"}, nullptr), 0) << Output();
  EXPECT_EQ(Run({"journal", "taps.txt", "-o", "back.alg"}, nullptr), 0) << Output();
  EXPECT_FALSE(fs::exists(dir_ / "VeskSettings.auc"));
}

TEST_F(PlayCommand, Speed200PlaysTheJournalThroughInHalfTheTime) {
  WriteJournal("taps.alg", Taps());
  TargetWindow target(10, 10, 150, 100);
  FakeInput user;
  user.Move(80, 70);
  Start({"play", "taps.alg", "--speed", "200", "--countdown", "3", "--repeat", "2"});
  HandFocusBack(user, [&] { target.Pump(); });
  EXPECT_EQ(WaitForExit(milliseconds(20000), [&] { target.Pump(); }), 0) << Output();
  target.Pump();
  const auto presses = target.Of(KeyPress);
  ASSERT_EQ(presses.size(), 4u) << Output();
  // A's press to B's press: 400 ms recorded, 200 ms at twice the speed.
  const long gap = static_cast<long>(presses[1].time - presses[0].time);
  EXPECT_NEAR(gap, 200, 30);
  EXPECT_FALSE(fs::exists(dir_ / "VeskSettings.auc"));
  EXPECT_NE(Output().find("played 2 passes"), std::string::npos) << Output();
}

TEST_F(PlayCommand, LoopStoppedByCtrlBreakAndStopAfterAPassIsFinished) {
  WriteJournal("taps.alg", Taps());
  TargetWindow target(10, 10, 150, 100);
  FakeInput user;
  user.Move(80, 70);
  Start({"play", "taps.alg", "--loop", "--countdown", "3"});
  HandFocusBack(user, [&] { target.Pump(); });
  // Two whole passes (four presses of A or B), then Ctrl+Break.
  ASSERT_TRUE(WaitFor([&] { return target.Of(KeyPress).size() >= 4; }, [&] { target.Pump(); },
                      milliseconds(15000)))
      << Output();
  user.Key(kKeyCtrlL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyCtrlL, false);
  Window main = 0;
  ASSERT_TRUE(
      WaitFor([&] { return (main = FindTitled(user.dpy(), "PAUSED PLAYBACK - (Vesk)")) != 0; },
              [&] { target.Pump(); }, milliseconds(5000)))
      << Output();
  const auto stop = ControlCentre(user.dpy(), main, IDC_STOP);
  user.Click(stop.first, stop.second);
  EXPECT_EQ(WaitForExit(milliseconds(10000), [&] { target.Pump(); }), 0) << Output();
}

TEST_F(PlayCommand, ClosingTheWindowMidRunIsUnfinished) {
  WriteJournal("long.alg", {{1, {WM_MOUSEMOVE, 80, 70, 0, 0}},
                            {1, {WM_MOUSEMOVE, 90, 70, 60000, 0}},
                            {1, {WM_MOUSEMOVE, 99, 70, 10, 0}}});
  FakeInput user;
  Start({"play", "long.alg", "--countdown", "0"});
  Window main = 0;
  ASSERT_TRUE(WaitFor(
      [&] { return (main = FindTitled(user.dpy(), "PLAYING-(Vesk), <Ctrl+Break> to PAUSE")) != 0; },
      [] {}, milliseconds(15000)))
      << Output();
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = main;
  ev.xclient.message_type = XInternAtom(user.dpy(), "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(user.dpy(), "WM_DELETE_WINDOW", False));
  XSendEvent(user.dpy(), main, False, NoEventMask, &ev);
  XSync(user.dpy(), False);
  EXPECT_EQ(WaitForExit(milliseconds(10000)), 1) << Output();
}

TEST_F(PlayCommand, SigtermReleasesHeldKeysAndExits130) {
  // Shift pressed, then a long wait: the signal comes while it is held.
  WriteJournal("hold.alg", {{1, {WM_MOUSEMOVE, 80, 70, 0, 0}},
                            Key(WM_KEYDOWN, 0x2A10, 10),
                            Key(WM_KEYUP, 0x2A10, 60000),
                            Key(WM_KEYUP, 0x2A10, 10)});
  FakeInput user;
  Start({"play", "hold.alg", "--countdown", "0"});
  auto shiftHeld = [&] {
    char keys[32] = {};
    XQueryKeymap(user.dpy(), keys);
    return (keys[kKeyShiftL / 8] & (1 << (kKeyShiftL % 8))) != 0;
  };
  ASSERT_TRUE(WaitFor(
      shiftHeld, [] {}, milliseconds(15000)))
      << Output();
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitForExit(milliseconds(10000)), kExitSignal) << Output();
  EXPECT_FALSE(shiftHeld());
}

}  // namespace
}  // namespace vesk::testing
