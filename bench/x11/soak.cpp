// A long session with the real program on a private Xvfb: pointer input at
// 500 events a second recorded for a while (10 minutes unless told), saved
// through the program's own dialogs, then replayed by a scheduled run into
// a window. Prints the program's memory per recorded event, its memory and
// open files while replaying, whether the recovery journal kept up with the
// recording (and went once it was saved), and whether every event arrived.
//
//   vesk_x11_soak [seconds] [events per second]
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/recorder_app.h"
#include "program_driver.h"
#include "spawn_program.h"
#include "storage/journal.h"
#include "storage/settings.h"

namespace fs = std::filesystem;
using namespace vesk;
using namespace vesk::testing;

namespace {

// Resident memory of a process in kB, from /proc.
long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 20, '\n');
  }
  return -1;
}

long OpenFiles(pid_t pid) {
  std::error_code ec;
  long n = 0;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

pid_t StartProgram(const fs::path& dir) {
  testing::Spawn spawn{VESK_PROGRAM, dir.string(), (dir / "vesk.log").string()};
  spawn.append = true;
  const pid_t pid = testing::SpawnProgram(spawn);
  return pid != 0 ? pid : -1;
}

int Fail(const char* what, const fs::path& dir) {
  std::fprintf(stderr, "soak: %s (program output: %s)\n", what, (dir / "vesk.log").c_str());
  return 1;
}

// Where the n-th recorded move goes: never the same point twice in a row,
// inside the area the replay target covers.
std::pair<int, int> PointOf(long n) {
  return {20 + static_cast<int>(n % 397), 20 + static_cast<int>((n / 397) % 281)};
}

}  // namespace

int main(int argc, char** argv) {
  const long seconds = argc > 1 ? std::max(10L, std::atol(argv[1])) : 600;
  const long rate = argc > 2 ? std::clamp(std::atol(argv[2]), 1L, 2000L) : 500;
  const long events = seconds * rate;
  Xvfb xvfb;
  XSetErrorHandler(&IgnoreXErrors);
  const fs::path dir = fs::temp_directory_path() / ("vesk-soak-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  FakeInput user;
  user.Move(900, 700);

  // ---- recording
  pid_t pid = StartProgram(dir);
  if (pid <= 0) return Fail("could not start the program", dir);
  Window main = 0;
  const auto appears = [&](const char* title, Window* w, int ms) {
    return WaitFor([&] { return (*w = FindTitled(user.dpy(), title)) != 0; }, [] {},
                   std::chrono::milliseconds(ms));
  };
  if (!appears("STOPPED - (Vesk)", &main, 15000)) return Fail("no main window", dir);
  HasFocusSoon(user, main, std::chrono::milliseconds(2000));
  user.FocusFollowsPointer();
  const auto record = ControlCentre(user.dpy(), main, IDC_RECORD);
  user.Click(record.first, record.second);
  Window w = 0;
  if (!appears("RECORDING - (Vesk), <Ctrl+Break> to PAUSE", &w, 5000)) {
    return Fail("recording did not start", dir);
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long rssBefore = RssKb(pid);
  const long filesBefore = OpenFiles(pid);
  std::printf("recording %ld pointer moves at %ld a second (%ld s)\n", events, rate, seconds);
  std::printf("%8s %12s %10s\n", "seconds", "memory (kB)", "open files");
  std::printf("%8d %12ld %10ld\n", 0, rssBefore, filesBefore);
  const auto start = Clock::now();
  const auto step = std::chrono::nanoseconds(1'000'000'000L / rate);
  for (long n = 0; n < events; ++n) {
    std::this_thread::sleep_until(start + n * step);
    const auto [x, y] = PointOf(n);
    XTestFakeMotionEvent(user.dpy(), -1, x, y, CurrentTime);
    XFlush(user.dpy());
    if (n > 0 && n % (rate * 60) == 0) {
      std::printf("%8ld %12ld %10ld\n", n / rate, RssKb(pid), OpenFiles(pid));
      std::fflush(stdout);
    }
  }
  XSync(user.dpy(), False);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the program catches up
  const long rssRecorded = RssKb(pid);
  const long filesRecorded = OpenFiles(pid);
  std::printf("%8ld %12ld %10ld\n", seconds, rssRecorded, filesRecorded);
  // The recovery journal the program writes as it records.
  const fs::path state = fs::path(xvfb.stateHome()) / "vesk";
  fs::path recovery;
  std::error_code ec;
  for (auto it = fs::directory_iterator(state, ec); !ec && it != fs::directory_iterator(); ++it) {
    if (it->path().filename().string().starts_with("recording-")) recovery = it->path();
  }
  const auto recoveryBytes = recovery.empty() ? 0 : fs::file_size(recovery, ec);

  user.Key(kKeyCtrlL, true);
  user.Key(kKeyPause, true);
  user.Key(kKeyPause, false);
  user.Key(kKeyCtrlL, false);
  if (!appears("PAUSED RECORDING - (Vesk)", &w, 10000))
    return Fail("Ctrl+Break did not pause", dir);
  const auto stop = ControlCentre(user.dpy(), main, IDC_STOP);
  user.Click(stop.first, stop.second);
  Window box = 0;
  if (!appears("Vesk", &box, 10000)) return Fail("no save question", dir);
  PressReturnIn(user, box);
  Window save = 0;
  if (!appears("Save journal as:", &save, 10000)) return Fail("no save dialog", dir);
  PressReturnIn(user, save);
  const fs::path saved = dir / "Journal.alg";
  const auto wanted = static_cast<std::uintmax_t>(events) * 24u;
  if (!WaitFor([&] { return fs::exists(saved) && fs::file_size(saved) >= wanted; }, [] {},
               std::chrono::milliseconds(60000))) {
    return Fail("the journal was not saved", dir);
  }
  Journal journal;
  ReadJournalFile(saved.string(), journal, [] {});
  const bool recoveryRemoved =
      !recovery.empty() &&
      WaitFor([&] { return !fs::exists(recovery); }, [] {}, std::chrono::milliseconds(10000));
  long moves = 0;
  for (auto pos = journal.HeadPosition(); pos != Journal::npos;) {
    if (journal.GetNext(pos).event.message == WM_MOUSEMOVE) ++moves;
  }
  user.Move(record.first, record.second);
  user.Key(9, true);  // Escape ends the program
  user.Key(9, false);
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, [] {},
               std::chrono::milliseconds(20000))) {
    kill(pid, SIGKILL);
    return Fail("the program did not end", dir);
  }

  // ---- replay, as a scheduled run
  VeskSettings settings;
  settings.playAtStartup = 1;
  settings.defaultJournalPath = "Journal.alg";
  std::ofstream(dir / kSettingsFileName, std::ios::binary) << settings.Serialize();
  TargetWindow target(0, 0, 430, 320);
  user.Move(900, 700);
  pid = StartProgram(dir);
  if (pid <= 0) return Fail("could not start the program again", dir);
  std::vector<std::pair<long, long>> samples;  // memory, open files every 10 s
  const auto pump = [&] { target.Pump(); };
  std::uint64_t recordedMs = 0;
  for (auto pos = journal.HeadPosition(); pos != Journal::npos;) {
    recordedMs += journal.GetNext(pos).event.time;
  }
  const auto replayStart = Clock::now();
  auto nextSample = replayStart + std::chrono::seconds(12);  // after the start-up wait
  status = -1;
  const bool ended = WaitFor(
      [&] {
        if (Clock::now() >= nextSample) {
          samples.emplace_back(RssKb(pid), OpenFiles(pid));
          nextSample += std::chrono::seconds(10);
        }
        return waitpid(pid, &status, WNOHANG) == pid;
      },
      pump, std::chrono::milliseconds(recordedMs + 120'000));
  pump();
  const auto received = static_cast<long>(target.Of(MotionNotify).size());
  if (!ended) {
    kill(pid, SIGKILL);
    return Fail("the scheduled run did not end", dir);
  }
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

  std::printf("\nrecorded: %ld moves sent, %zu records saved (%ld moves and %zu other)\n", events,
              journal.Size(), moves, journal.Size() - static_cast<std::size_t>(moves));
  std::printf("memory while recording: %+ld kB, %.1f bytes per recorded event\n",
              rssRecorded - rssBefore,
              1024.0 * static_cast<double>(rssRecorded - rssBefore) / static_cast<double>(events));
  std::printf("open files while recording: %ld before, %ld after\n", filesBefore, filesRecorded);
  std::printf("recovery journal before Stop: %ju records of the %zu saved; %s once saved\n",
              static_cast<std::uintmax_t>(recoveryBytes / 24), journal.Size(),
              recoveryRemoved ? "removed" : "NOT removed");
  if (samples.size() >= 2) {
    const auto half = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    const auto [lo, hi] = std::minmax_element(half, samples.end());
    std::printf("replay: memory %ld kB at its start, %ld kB at its end; second half %ld..%ld kB\n",
                samples.front().first, samples.back().first, lo->first, hi->first);
    std::printf("replay: open files %ld at its start, %ld at its end\n", samples.front().second,
                samples.back().second);
  }
  std::printf("replay: %ld of %ld moves arrived in the window; exit status %d\n", received, moves,
              exitCode);
  fs::remove_all(dir, ec);
  const bool recoveryKept = recoveryBytes / 24 + 1 >= journal.Size() && recoveryRemoved;
  return received == moves && moves == events && exitCode == 0 && recoveryKept ? 0 : 2;
}
