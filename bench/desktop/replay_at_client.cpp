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
    const Journal journal = vt::MixedJournal(events, cx, cy);
    vt::WriteFile(file("bench.alg"), EncodeJournal(journal));
    for (int run = 0; run < runs; ++run) {
      const std::size_t before = world.ClientLog().size();
      const auto asked = std::chrono::steady_clock::now();
      // GNOME asks on the first run: the user thinks for 2 s, then shares.
      const int status = world.PlayProgram(work, file("bench.alg"), [&] {
        if (name != "gnome" || run > 0) return;
        const std::string unanswered = world.AnswerGnomeDialog(DesktopWorld::Answer::Share, 2000);
        if (!unanswered.empty()) {
          std::printf("gnome: the dialog was not answered: %s\n", unanswered.c_str());
        }
      });
      const double took =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
      const auto got = vt::ParseClientEvents(world.ClientLog().substr(before));
      const vt::GapStats s = vt::CompareGaps(got, journal);
      std::printf(
          "%s run %d (%s): status %d in %.1f s, %zu of %zu clicks and keys at the client, "
          "gap error p99 %d ms, max %d ms, drift %+d ms over %d ms (%+.3f %%)\n",
          name.c_str(), run + 1, run == 0 ? "no token" : "token", status, took, s.matched,
          s.expected, s.p99, s.max, s.drift, s.span, 100.0 * s.drift / std::max(1, s.span));
      if (status != 0 || s.matched != s.expected) {
        std::printf("%s", vt::ReadFile(file("vesk.log")).c_str());
        ++failures;
      }
    }
    std::filesystem::remove_all(work);
  }
  return failures == 0 ? 0 : 1;
}
