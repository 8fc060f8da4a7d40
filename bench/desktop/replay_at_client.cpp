// Replay timing as the user sees it on the real desktops of the test world:
// the program itself (`vesk play`) replays a journal through the desktop's
// remote input into a native Wayland client, and the client's own event
// times give each gap's error and the drift over the run. The first run has
// no restore token (GNOME's dialog is answered after a wait); later runs
// offer the token. Needs root (the world is a chroot).
//   vesk_desktop_replay_timing [events] [runs] [gnome|kde]...
#include <QCoreApplication>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client_events.h"
#include "desktop_world.h"
#include "platform/wayland/portal_client.h"
#include "storage/journal.h"
#include "test_files.h"

// Last: its macros clash with Qt's names.
#include <X11/Xlib.h>

extern char** environ;

namespace {

using namespace vesk;
namespace vt = vesk::testing;
using vt::DesktopWorld;

// Mixed input around the client's window in the middle of the desktop:
// moves, clicks and typed letters, with delays of 15 to 400 ms.
Journal MakeJournal(int events, int cx, int cy) {
  Journal journal;
  auto add = [&](std::uint32_t m, std::uint32_t l, std::uint32_t h, std::uint32_t delay) {
    journal.Append(JournalEntry{1, EVENTMSG{m, l, h, delay, 0}});
  };
  // A click into the client first, so that it has the keyboard.
  add(WM_MOUSEMOVE, cx, cy, 0);
  add(WM_LBUTTONDOWN, cx, cy, 200);
  add(WM_LBUTTONUP, cx, cy, 100);
  std::mt19937 random(7);
  std::uniform_int_distribution<std::uint32_t> delay(15, 400);
  std::uniform_int_distribution<int> step(-60, 60);
  for (int i = 0; i < events; ++i) {
    const std::uint32_t x = cx + step(random), y = cy + step(random);
    switch (i % 4) {
      case 0:
        add(WM_MOUSEMOVE, x, y, delay(random));
        break;
      case 1:
        add(WM_KEYDOWN, 0x1E41, 1, delay(random));
        break;
      case 2:
        add(WM_KEYUP, 0x1E41, 1, delay(random));
        break;
      default:
        add(WM_MOUSEMOVE, x, y, delay(random));
        break;
    }
  }
  add(WM_MOUSEMOVE, cx, cy, 100);  // handed over last, never replayed
  return journal;
}

// The middle of the X root, where the client's window is; journal positions
// are X positions.
std::pair<int, int> Centre(const DesktopWorld& world) {
  setenv("XAUTHORITY", world.Env("XAUTHORITY").c_str(), 1);
  Display* dpy = XOpenDisplay(world.Env("DISPLAY").c_str());
  if (dpy == nullptr) return {400, 300};
  const std::pair<int, int> centre{DisplayWidth(dpy, 0) / 2, DisplayHeight(dpy, 0) / 2};
  XCloseDisplay(dpy);
  return centre;
}

// The program on the world's session; its exit status.
int Play(const DesktopWorld& world, const std::string& dir, const std::string& journal,
         const std::function<void()>& meanwhile) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  for (const char* key : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                          "DBUS_SESSION_BUS_ADDRESS"}) {
    env.push_back(std::string(key) + "=" + world.Env(key));
  }
  env.emplace_back("XDG_SESSION_TYPE=wayland");
  env.emplace_back("QT_QPA_PLATFORM=xcb");
  env.emplace_back("LD_LIBRARY_PATH=" VESK_LIBEI_LIBDIR);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string program = VESK_PROGRAM, play = "play", countdown = "--countdown", zero = "0",
              file = journal;
  char* argv[] = {program.data(), play.data(), countdown.data(), zero.data(), file.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  const std::string log = dir + "/vesk.log";
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  meanwhile();
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int events = argc > 1 ? std::max(8, std::atoi(argv[1])) : 200;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::vector<std::string> desktops;
  for (int i = 3; i < argc; ++i) desktops.emplace_back(argv[i]);
  if (desktops.empty()) desktops = {"gnome", "kde"};
  int failures = 0;
  for (const std::string& name : desktops) {
    DesktopWorld world(name);
    if (!world.Failure().empty()) {
      std::printf("%s: %s\n", name.c_str(), world.Failure().c_str());
      ++failures;
      continue;
    }
    QString why;
    wayland::PortalClient::ProbeVersion(world.Bus(), 10000, &why);  // starts the portal
    if (name == "kde" && !world.GrantKdePermission()) {
      std::printf("kde: the permission could not be granted\n");
      ++failures;
      continue;
    }
    if (!world.StartClient()) {
      std::printf("%s: the native client did not show\n%s\n", name.c_str(),
                  world.ClientLog().c_str());
      ++failures;
      continue;
    }
    const std::string work = (std::filesystem::temp_directory_path() /
                              ("vesk-desktop-bench-" + name + "-" + std::to_string(getpid())))
                                 .string();
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
    auto file = [&](const char* f) { return work + "/" + f; };
    const auto [cx, cy] = Centre(world);
    const Journal journal = MakeJournal(events, cx, cy);
    vt::WriteFile(file("bench.alg"), EncodeJournal(journal));
    std::vector<std::uint32_t> delays;
    for (std::size_t i = 0; i + 1 < journal.Size(); ++i) delays.push_back(journal.At(i).event.time);
    for (int run = 0; run < runs; ++run) {
      const std::size_t before = world.ClientLog().size();
      const auto asked = std::chrono::steady_clock::now();
      // GNOME asks on the first run: the user thinks for 2 s, then shares.
      const int status = Play(world, work, file("bench.alg"), [&] {
        if (name != "gnome" || run > 0) return;
        const std::string unanswered = world.AnswerGnomeDialog(DesktopWorld::Answer::Share, 2000);
        if (!unanswered.empty()) {
          std::printf("gnome: the dialog was not answered: %s\n", unanswered.c_str());
        }
      });
      const double took =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
      const auto got = vt::ParseClientEvents(world.ClientLog().substr(before));
      const vt::GapStats s = vt::CompareGaps(got, delays);
      std::printf(
          "%s run %d (%s): status %d in %.1f s, %zu of %zu events at the client, gap error p99 %d "
          "ms, max %d ms, drift %+d ms over %d ms (%+.3f %%)\n",
          name.c_str(), run + 1, run == 0 ? "no token" : "token", status, took, s.matched,
          delays.size(), s.p99, s.max, s.drift, s.span, 100.0 * s.drift / std::max(1, s.span));
      if (status != 0 || s.matched != delays.size()) {
        std::printf("%s", vt::ReadFile(file("vesk.log")).c_str());
        ++failures;
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
