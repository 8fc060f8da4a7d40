// The whole program, started as a task scheduler would start it.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "storage/journal.h"
#include "storage/settings.h"
#include "x_session.h"

namespace vesk::testing {
namespace {

namespace fs = std::filesystem;

// The top-level window whose title is `title`, or 0.
Window FindTitled(Display* dpy, const std::string& title) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned n = 0;
  Window found = 0;
  if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n) == 0) return 0;
  for (unsigned i = 0; i < n && found == 0; ++i) {
    char* name = nullptr;
    if (XFetchName(dpy, children[i], &name) != 0 && name != nullptr) {
      if (title == name) found = children[i];
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// The program's windows come and go while the test looks at them: a request
// about one that is gone is no reason to end the test (Xlib's default).
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

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

  void Start() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (dir_ / "vesk.log").string();
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string cwd = fs::current_path().string();
    fs::current_path(dir_);  // the program's settings live in its working directory
    char program[] = VESK_PROGRAM;
    char* argv[] = {program, nullptr};
    const int rc = posix_spawn(&pid_, program, &actions, nullptr, argv, environ);
    fs::current_path(cwd);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(rc, 0);
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

  Xvfb xvfb_;
  fs::path dir_;
  pid_t pid_ = 0;
};

JournalEntry Entry(std::uint32_t message, std::uint32_t l, std::uint32_t h, std::uint32_t delay) {
  return JournalEntry{1, EVENTMSG{message, l, h, delay, 0}};
}

TEST_F(Program, ScheduledRunPlaysEveryPassThroughTheWindowAndClosesItself) {
  VeskSettings settings;
  settings.repeatCount = 2;
  settings.playAtStartup = 1;
  settings.playAtRecordedSpeed = 1;
  settings.defaultJournalPath = "demo.alg";
  Write(kSettingsFileName, settings.Serialize());
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
  ASSERT_TRUE(WaitFor([&] { return (main = FindTitled(user.dpy(), "STOPPED - (Vesk)")) != 0; },
                      [] {}, std::chrono::milliseconds(15000)))
      << Log();
  // The window is centred on the screen and covers the target.
  ASSERT_NE(XGetWindowAttributes(user.dpy(), main, &attrs), 0);
  ASSERT_LT(attrs.x, 310);
  ASSERT_LT(attrs.y, 290);
  ASSERT_GT(attrs.x + attrs.width, 310);
  ASSERT_GT(attrs.y + attrs.height, 290);
  // The program takes the focus when its window appears; give it back to
  // the pointer, as a desktop would after a click elsewhere.
  WaitFor(
      [&] {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(user.dpy(), &focus, &revert);
        return focus == main;
      },
      [] {}, std::chrono::milliseconds(2000));
  user.FocusFollowsPointer();

  const int status = WaitForExit(std::chrono::seconds(50), [&] { target.Pump(); });
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

}  // namespace
}  // namespace vesk::testing
