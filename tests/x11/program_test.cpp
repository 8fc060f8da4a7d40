// The whole program, started as a task scheduler would start it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/recorder_app.h"
#include "program_driver.h"
#include "resources/dialog_templates.h"
#include "spawn_program.h"
#include "storage/journal.h"
#include "storage/settings.h"

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;

class Program : public ::testing::Test {
 protected:
  Program() {
    XSetErrorHandler(&IgnoreXErrors);
    dir_ = fs::temp_directory_path() / ("vesk-program-test-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~Program() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }

  // Settings for a scheduled run: play journal at start-up, recorded speed.
  void WriteStartupSettings(std::int32_t repeatCount, const std::string& journal) {
    VeskSettings settings;
    settings.repeatCount = repeatCount;
    settings.playAtStartup = 1;
    settings.playAtRecordedSpeed = 1;
    settings.defaultJournalPath = journal;
    Write(kSettingsFileName, settings.Serialize());
  }

  // Waits until a window with that title exists; pump runs while waiting.
  static bool Appears(FakeInput& user, const char* title, Window* found,
                      const std::function<void()>& pump, std::chrono::milliseconds limit) {
    return WaitFor([&] { return (*found = FindTitled(user.dpy(), title)) != 0; }, pump, limit);
  }

  // The program takes the focus when its window appears; give it back to
  // the pointer, as a desktop would after a click elsewhere.
  static void HandFocusToPointer(FakeInput& user, Window main) {
    HasFocusSoon(user, main, std::chrono::milliseconds(2000));
    user.FocusFollowsPointer();
  }

  void Start() {
    pid_ = SpawnProgram({VESK_PROGRAM, dir_.string(), (dir_ / "vesk.log").string()});
    ASSERT_NE(pid_, 0);
  }

  // The exit status, or -1 if it is still running after the limit.
  int WaitForExit(std::chrono::seconds limit, const std::function<void()>& pump) {
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, pump,
                               std::chrono::duration_cast<std::chrono::milliseconds>(limit));
    if (!ended) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string Log() const {
    std::ifstream in(dir_ / "vesk.log");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::string Listing() const {
    std::string out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      out += e.path().filename().string() + " " + std::to_string(e.file_size()) + "\n";
    }
    return out;
  }

  Xvfb xvfb_;
  fs::path dir_;
  pid_t pid_ = 0;
};

JournalEntry Entry(std::uint32_t message, std::uint32_t l, std::uint32_t h, std::uint32_t delay) {
  return JournalEntry{1, EVENTMSG{message, l, h, delay, 0}};
}

TEST_F(Program, ScheduledRunPlaysEveryPassThroughTheWindowAndClosesItself) {
  WriteStartupSettings(2, "demo.alg");
  Journal journal;
  // The target lies under the program's own window: the clicks must pass through it.
  journal.Append(Entry(WM_MOUSEMOVE, 300, 280, 50));
  journal.Append(Entry(WM_LBUTTONDOWN, 310, 290, 30));
  journal.Append(Entry(WM_LBUTTONUP, 310, 290, 30));
  journal.Append(Entry(WM_KEYDOWN, 0x1E41, 1, 30));
  journal.Append(Entry(WM_KEYUP, 0x1E41, 1, 30));
  journal.Append(Entry(WM_KEYDOWN, 0x3042, 1, 30));
  journal.Append(Entry(WM_KEYUP, 0x3042, 1, 30));
  // The last entry of a pass is handed over but never replayed: a key here
  // would be left held down.
  journal.Append(Entry(WM_MOUSEMOVE, 900, 700, 30));
  Write("demo.alg", EncodeJournal(journal));

  TargetWindow target(250, 250, 300, 200);
  FakeInput user;
  user.Move(900, 700);
  Start();
  Window main = 0;
  XWindowAttributes attrs{};
  ASSERT_TRUE(Appears(
      user, "STOPPED - (Vesk)", &main, [] {}, std::chrono::milliseconds(15000)))
      << Log();
  // The window is centred on the screen and covers the target.
  ASSERT_NE(XGetWindowAttributes(user.dpy(), main, &attrs), 0);
  ASSERT_LT(attrs.x, 310);
  ASSERT_LT(attrs.y, 290);
  ASSERT_GT(attrs.x + attrs.width, 310);
  ASSERT_GT(attrs.y + attrs.height, 290);
  HandFocusToPointer(user, main);

  const int status = WaitForExit(std::chrono::seconds(40), [&] { target.Pump(); });
  ASSERT_EQ(status, 0) << Log();
  target.Pump();
  std::vector<std::pair<int, unsigned>> got;
  for (const auto& r : target.Got()) {
    if (r.type != MotionNotify) got.emplace_back(r.type, r.detail);
  }
  const std::vector<std::pair<int, unsigned>> pass{
      {ButtonPress, 1},    {ButtonRelease, 1}, {KeyPress, kKeyA},
      {KeyRelease, kKeyA}, {KeyPress, kKeyB},  {KeyRelease, kKeyB},
  };
  std::vector<std::pair<int, unsigned>> twice = pass;
  twice.insert(twice.end(), pass.begin(), pass.end());
  EXPECT_EQ(got, twice) << Log();
  const auto presses = target.Of(ButtonPress);
  ASSERT_FALSE(presses.empty());
  EXPECT_EQ(presses.front().x_root, 310);
  EXPECT_EQ(presses.front().y_root, 290);
}

std::vector<EVENTMSG> ReadJournal(const fs::path& path) {
  Journal journal;
  std::vector<EVENTMSG> out;
  if (!ReadJournalFile(path.string(), journal, [] {})) return out;
  for (auto pos = journal.HeadPosition(); pos != Journal::npos;)
    out.push_back(journal.GetNext(pos).event);
  return out;
}

TEST_F(Program, RecordsUntilCtrlBreakAndSavesTheJournalWithoutTheBreak) {
  TargetWindow target(10, 10, 150, 100);
  FakeInput user;
  user.Move(900, 700);
  Start();
  Window main = 0;
  auto appears = [&](const char* title, Window* found) {
    return Appears(
        user, title, found, [] {}, std::chrono::milliseconds(10000));
  };
  ASSERT_TRUE(appears("STOPPED - (Vesk)", &main)) << Log();
  HandFocusToPointer(user, main);

  const auto record = ControlCentre(user.dpy(), main, IDC_RECORD);
  user.Click(record.first, record.second);
  Window w = 0;
  ASSERT_TRUE(appears("RECORDING - (Vesk), <Ctrl+Break> to PAUSE", &w)) << Log();
  // The title shows just before the hook goes in: what the user does in
  // that instant may not be recorded. A user pauses before typing anyway.
  user.Move(60, 50);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  user.Move(80, 70);
  user.Key(kKeyA, true);
  user.Key(kKeyA, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // a gap the journal must keep
  user.Key(kKeyB, true);
  user.Key(kKeyB, false);
  user.Key(kKeyCtrlL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyCtrlL, false);
  ASSERT_TRUE(appears("PAUSED RECORDING - (Vesk)", &w)) << Log();

  // Stop, then Yes to saving, then the save dialog's own name.
  const auto stop = ControlCentre(user.dpy(), main, IDC_STOP);
  user.Click(stop.first, stop.second);
  Window box = 0;
  ASSERT_TRUE(appears("Vesk", &box)) << Log();
  EXPECT_TRUE(PressReturnIn(user, box));
  Window save = 0;
  ASSERT_TRUE(appears("Save journal as:", &save)) << Log();
  EXPECT_TRUE(PressReturnIn(user, save));
  const fs::path saved = dir_ / "Journal.alg";
  ASSERT_TRUE(WaitFor([&] { return fs::exists(saved) && fs::file_size(saved) >= 5 * 24; }, [] {},
                      std::chrono::milliseconds(10000)))
      << Log() << Listing();

  const std::vector<EVENTMSG> journal = ReadJournal(saved);
  std::vector<EVENTMSG> keys;
  for (const EVENTMSG& e : journal) {
    if (e.message == WM_KEYDOWN || e.message == WM_KEYUP) keys.push_back(e);
  }
  // Ctrl's key-down is the last thing recorded: the Break never is.
  ASSERT_EQ(keys.size(), 5u);
  EXPECT_EQ(keys[0].paramL, 0x1E41u);
  EXPECT_EQ(keys[1].paramL, 0x1E41u);
  EXPECT_EQ(keys[2].paramL, 0x3042u);
  EXPECT_EQ(keys[2].message, static_cast<std::uint32_t>(WM_KEYDOWN));
  EXPECT_GE(keys[2].time, 145u);  // the delay since the event before it
  EXPECT_LE(keys[2].time, 200u);
  EXPECT_EQ(keys[3].paramL, 0x3042u);
  EXPECT_EQ(keys[4].paramL, 0x1D11u);
  EXPECT_EQ(keys[4].message, static_cast<std::uint32_t>(WM_KEYDOWN));
  EXPECT_EQ(journal.back().message, static_cast<std::uint32_t>(WM_KEYDOWN));
  bool movedToTarget = false;
  for (const EVENTMSG& e : journal) {
    movedToTarget =
        movedToTarget || (e.message == WM_MOUSEMOVE && e.paramL == 80 && e.paramH == 70);
  }
  EXPECT_TRUE(movedToTarget);

  // Escape ends the program.
  user.Move(record.first, record.second);
  user.Key(9, true);
  user.Key(9, false);
  EXPECT_EQ(WaitForExit(std::chrono::seconds(10), [] {}), 0) << Log();
}

TEST_F(Program, CtrlBreakPausesAStartupRunWhichKeepsTheProgramOpen) {
  WriteStartupSettings(1, "taps.alg");
  // Taps of A, B, X, A, B into the target, 400 ms apart: room to break in
  // between two of them.
  Journal journal;
  journal.Append(Entry(WM_MOUSEMOVE, 80, 70, 50));
  const std::uint32_t taps[] = {0x1E41, 0x3042, 0x2D58, 0x1E41, 0x3042};
  for (std::size_t i = 0; i < std::size(taps); ++i) {
    journal.Append(Entry(WM_KEYDOWN, taps[i], 1, i == 0 ? 100 : 400));
    journal.Append(Entry(WM_KEYUP, taps[i], 1, 30));
  }
  journal.Append(Entry(WM_MOUSEMOVE, 80, 70, 30));  // handed over, never replayed
  Write("taps.alg", EncodeJournal(journal));

  TargetWindow target(10, 10, 150, 100);
  FakeInput user;
  user.Move(80, 70);
  Start();
  Window main = 0;
  auto appears = [&](const char* title, Window* found, std::chrono::milliseconds limit) {
    return Appears(
        user, title, found, [&] { target.Pump(); }, limit);
  };
  ASSERT_TRUE(appears("STOPPED - (Vesk)", &main, std::chrono::milliseconds(15000))) << Log();
  HandFocusToPointer(user, main);

  // The run starts after the program's ten-second notice.
  Window w = 0;
  ASSERT_TRUE(
      appears("PLAYING-(Vesk), <Ctrl+Break> to PAUSE", &w, std::chrono::milliseconds(20000)))
      << Log();
  // Break in once the second tap is complete, well before the third is due.
  auto keys = [&] {
    std::vector<std::pair<int, unsigned>> out;
    for (const auto& r : target.Got()) {
      if ((r.type == KeyPress || r.type == KeyRelease) && r.detail != kKeyCtrlL)
        out.emplace_back(r.type, r.detail);
    }
    return out;
  };
  ASSERT_TRUE(WaitFor([&] { return keys().size() >= 4; }, [&] { target.Pump(); },
                      std::chrono::milliseconds(5000)))
      << Log();
  user.Key(kKeyCtrlL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyCtrlL, false);
  ASSERT_TRUE(appears("PAUSED PLAYBACK - (Vesk)", &w, std::chrono::milliseconds(3000))) << Log();

  // The user's Ctrl reaches the target, and comes after anything else the
  // user or the run sent it.
  auto ctrlReleased = [&] {
    for (const auto& r : target.Got()) {
      if (r.type == KeyRelease && r.detail == kKeyCtrlL) return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitFor(
      ctrlReleased, [&] { target.Pump(); }, std::chrono::milliseconds(3000)));

  // Paused: over more than three of the journal's gaps nothing more
  // arrives and the title stays.
  const std::size_t pausedAt = target.Got().size();
  bool titled = true;
  const bool changed = WaitFor(
      [&] {
        titled = FindTitled(user.dpy(), "PAUSED PLAYBACK - (Vesk)") != 0;
        return target.Got().size() != pausedAt || !titled;
      },
      [&] { target.Pump(); }, std::chrono::milliseconds(1500));
  EXPECT_FALSE(changed) << "paused title shown: " << titled << ", events " << pausedAt << " -> "
                        << target.Got().size() << "\n"
                        << Log();

  const std::vector<std::pair<int, unsigned>> played{
      {KeyPress, kKeyA}, {KeyRelease, kKeyA}, {KeyPress, kKeyB}, {KeyRelease, kKeyB}};
  EXPECT_EQ(keys(), played) << Log();
  // The Break key never reached the target.
  for (const auto& r : target.Got()) {
    if (r.type == KeyPress || r.type == KeyRelease) {
      EXPECT_NE(r.detail, kKeyPause);
    }
  }

  // A paused automatic run leaves the program open, until the user closes it.
  ASSERT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
  const auto stop = ControlCentre(user.dpy(), main, IDC_STOP);
  user.Move(stop.first, stop.second);
  user.Key(9, true);
  user.Key(9, false);
  // The run never finished: a task scheduler must not record success.
  EXPECT_EQ(WaitForExit(std::chrono::seconds(10), [] {}), kExitRunUnfinished) << Log();
}

// Which keys the X server holds down, by key code.
bool ServerHolds(Display* dpy, unsigned keycode) {
  char keys[32] = {};
  XQueryKeymap(dpy, keys);
  return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
}

// The close box, as a window manager sends it.
void AskToClose(Display* dpy, Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, w, False, NoEventMask, &ev);
  XSync(dpy, False);
}

TEST_F(Program, APauseReleasesWhatTheJournalHoldsContinueRestoresItAndClosingReleasesIt) {
  WriteStartupSettings(1, "shifted.alg");
  // Shift held down over taps of A, 400 ms apart: room to break in. With
  // Shift held, Ctrl+Break must still pause.
  constexpr std::uint32_t kShift = 0x2A10;
  Journal journal;
  journal.Append(Entry(WM_MOUSEMOVE, 80, 70, 50));
  journal.Append(Entry(WM_KEYDOWN, kShift, 1, 100));
  for (int i = 0; i < 12; ++i) {
    journal.Append(Entry(WM_KEYDOWN, 0x1E41, 1, i == 0 ? 100 : 400));
    journal.Append(Entry(WM_KEYUP, 0x1E41, 1, 30));
  }
  journal.Append(Entry(WM_KEYUP, kShift, 1, 30));
  journal.Append(Entry(WM_MOUSEMOVE, 80, 70, 30));  // handed over, never replayed
  Write("shifted.alg", EncodeJournal(journal));

  TargetWindow target(10, 10, 150, 100);
  FakeInput user;
  user.Move(80, 70);
  Start();
  Window main = 0;
  auto appears = [&](const char* title, Window* found, std::chrono::milliseconds limit) {
    return Appears(
        user, title, found, [&] { target.Pump(); }, limit);
  };
  ASSERT_TRUE(appears("STOPPED - (Vesk)", &main, std::chrono::milliseconds(15000))) << Log();
  HandFocusToPointer(user, main);
  Window w = 0;
  ASSERT_TRUE(
      appears("PLAYING-(Vesk), <Ctrl+Break> to PAUSE", &w, std::chrono::milliseconds(20000)))
      << Log();
  // Shift and the first tap have arrived, and Shift is held.
  auto count = [&](int type, unsigned key) {
    int n = 0;
    for (const auto& r : target.Got()) n += r.type == type && r.detail == key ? 1 : 0;
    return n;
  };
  ASSERT_TRUE(WaitFor([&] { return count(KeyRelease, kKeyA) >= 1; }, [&] { target.Pump(); },
                      std::chrono::milliseconds(5000)))
      << Log();
  ASSERT_EQ(count(KeyPress, kKeyShiftL), 1);
  ASSERT_TRUE(ServerHolds(user.dpy(), kKeyShiftL));

  // Ctrl+Break tapped. (While Pause is held down the key grab sends the
  // keyboard's events to Vesk, so a window would miss the release; the
  // server's key state is right either way.)
  user.Key(kKeyCtrlL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyCtrlL, false);
  ASSERT_TRUE(appears("PAUSED PLAYBACK - (Vesk)", &w, std::chrono::milliseconds(3000))) << Log();
  // Paused: Shift is up on the server and the window saw it go up.
  EXPECT_TRUE(WaitFor([&] { return !ServerHolds(user.dpy(), kKeyShiftL); }, [&] { target.Pump(); },
                      std::chrono::milliseconds(3000)));
  EXPECT_TRUE(WaitFor([&] { return count(KeyRelease, kKeyShiftL) == 1; }, [&] { target.Pump(); },
                      std::chrono::milliseconds(3000)));
  const int tapsAtPause = count(KeyPress, kKeyA);
  EXPECT_EQ(count(KeyRelease, kKeyA), tapsAtPause);

  // Continue Playback: Shift goes down again,
  const auto play = ControlCentre(user.dpy(), main, IDC_PLAY);
  user.Click(play.first, play.second);
  user.Move(80, 70);  // back over the target
  HandFocusToPointer(user, main);
  ASSERT_TRUE(appears("PLAYING-(Vesk), <Ctrl+Break> to PAUSE", &w, std::chrono::milliseconds(3000)))
      << Log();
  EXPECT_TRUE(WaitFor([&] { return ServerHolds(user.dpy(), kKeyShiftL); }, [&] { target.Pump(); },
                      std::chrono::milliseconds(3000)))
      << Log();
  // and stays down while the taps go on.
  const int tapsAtContinue = count(KeyPress, kKeyA);
  EXPECT_TRUE(WaitFor([&] { return count(KeyPress, kKeyA) > tapsAtContinue; },
                      [&] { target.Pump(); }, std::chrono::milliseconds(3000)));
  EXPECT_TRUE(ServerHolds(user.dpy(), kKeyShiftL));

  // The window closed mid-run releases Shift, and the program ends telling
  // that the run did not.
  AskToClose(user.dpy(), main);
  EXPECT_EQ(WaitForExit(std::chrono::seconds(10), [&] { target.Pump(); }), kExitRunUnfinished)
      << Log();
  EXPECT_FALSE(ServerHolds(user.dpy(), kKeyShiftL));
  EXPECT_LT(count(KeyPress, kKeyA), 12);  // it was closed before the run ended
}

}  // namespace
}  // namespace vesk::testing
