// Replay fidelity as users see it: the program itself, in a scheduled run
// (settings: play the journal at start-up, at the recorded speed, once),
// replays a journal of pointer moves with gaps of 1 to 40 ms into a window
// on a private Xvfb. The server's time stamps of what the window received
// give the drift against the recorded time and each gap's error. The same
// moves are then replayed by GNU Xnee (cnee) for comparison. Each runs at the
// recorded pace, half of it and twice it (`vesk play --speed`, cnee's
// --speed-percent); the figures are against the scaled schedule.
//
//   vesk_x11_replay_fidelity [moves] [rounds]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "storage/journal.h"
#include "storage/settings.h"
#include "x_session.h"

namespace {

using namespace vesk;
using namespace vesk::testing;
namespace fs = std::filesystem;

// The target covers the screen's top-left corner, clear of the program's
// window (centred) so that every move lands in it.
constexpr int kTargetW = 280, kTargetH = 200;

struct Move {
  int x, y;
  std::uint32_t gap;  // ms since the move before
};

std::vector<Move> MakeMoves(int count) {
  std::vector<Move> moves;
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int i = 0; i < count; ++i) {
    // Three in five gaps as a 125 to 1000 Hz mouse reports (1 to 8 ms),
    // the rest up to 40 ms.
    const std::uint32_t r = next() % 5;
    const std::uint32_t gap = r < 3 ? 1 + next() % 8 : 9 + next() % 32;
    moves.push_back(
        {10 + (i * 37) % (kTargetW - 20), 10 + (i * 53) % (kTargetH - 20), i == 0 ? 100u : gap});
  }
  return moves;
}

struct Figures {
  bool ok = false;
  std::string note;
  long recorded = 0, took = 0;
  double p50 = 0, p99 = 0, max = 0;
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1)))];
}

// speed: percent of the recorded pace; every gap is due at gap * 100 / speed.
Figures Measure(const std::vector<Move>& moves, const TargetWindow& target, int speed) {
  Figures f;
  std::vector<ReceivedInput> got;
  for (const ReceivedInput& r : target.Of(MotionNotify)) {
    // Only the replayed moves: the pointer may arrive in the window first.
    if (got.size() < moves.size() && r.x_root == moves[got.size()].x &&
        r.y_root == moves[got.size()].y) {
      got.push_back(r);
    }
  }
  if (got.size() != moves.size()) {
    char text[64];
    std::snprintf(text, sizeof text, "%zu of %zu moves arrived", got.size(), moves.size());
    f.note = text;
    return f;
  }
  std::vector<double> errors;
  double scaled = 0;
  for (std::size_t i = 1; i < moves.size(); ++i) {
    const long gap = static_cast<long>(got[i].time - got[i - 1].time);
    const double due = moves[i].gap * 100.0 / speed;
    errors.push_back(std::fabs(static_cast<double>(gap) - due));
    scaled += due;
  }
  f.recorded = std::lround(scaled);
  f.took = static_cast<long>(got.back().time - got.front().time);
  f.p50 = Percentile(errors, 0.5);
  f.p99 = Percentile(errors, 0.99);
  f.max = *std::max_element(errors.begin(), errors.end());
  f.ok = true;
  return f;
}

pid_t Spawn(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const fs::path back = fs::current_path();
  fs::current_path(cwd);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  fs::current_path(back);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Runs a replayer until it exits (or the limit), collecting the window's input.
bool RunToEnd(pid_t pid, TargetWindow& target, std::chrono::seconds limit) {
  int status = 0;
  const bool ended =
      WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, [&] { target.Pump(); }, limit);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  target.Pump();
  return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Tail(const fs::path& log) {
  std::ifstream in(log);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

// At the recorded speed as a scheduled run (settings: play at start-up);
// at another speed through `vesk play --speed`.
Figures RunVesk(const std::vector<Move>& moves, const fs::path& dir, int speed) {
  VeskSettings settings;
  settings.repeatCount = 1;
  settings.playAtStartup = 1;
  settings.playAtRecordedSpeed = 1;
  settings.defaultJournalPath = "moves.alg";
  std::ofstream(dir / kSettingsFileName, std::ios::binary) << settings.Serialize();
  Journal journal;
  for (const Move& m : moves) {
    journal.Append(JournalEntry{1, EVENTMSG{WM_MOUSEMOVE, static_cast<std::uint32_t>(m.x),
                                            static_cast<std::uint32_t>(m.y), m.gap, 0}});
  }
  // The last entry of a pass is handed over and never replayed.
  journal.Append(JournalEntry{1, EVENTMSG{WM_MOUSEMOVE, 900, 700, 20, 0}});
  std::ofstream(dir / "moves.alg", std::ios::binary) << EncodeJournal(journal);

  TargetWindow target(0, 0, kTargetW, kTargetH);
  FakeInput user;
  user.Move(900, 700);
  const pid_t pid = speed == 100 ? Spawn({VESK_PROGRAM}, dir, dir / "vesk.log")
                                 : Spawn({VESK_PROGRAM, "play", "moves.alg", "--speed",
                                          std::to_string(speed), "--countdown", "1"},
                                         dir, dir / "vesk.log");
  if (pid < 0) return {false, "cannot start the program"};
  const bool clean = RunToEnd(pid, target, std::chrono::seconds(120));
  Figures f = Measure(moves, target, speed);
  if (!clean && f.ok) f.note = "the program did not end cleanly";
  if (!f.ok) f.note.append("\n").append(Tail(dir / "vesk.log"));
  return f;
}

Figures RunCnee(const std::vector<Move>& moves, const fs::path& dir, int speed) {
  // Device events: 0,type,x,y,button,keycode,screen,time (ms).
  {
    std::ofstream out(dir / "moves.xns");
    unsigned long t = 100000;
    for (const Move& m : moves) {
      t += m.gap;
      out << "0,6," << m.x << "," << m.y << ",0,0,0," << t << "\n";
    }
  }
  TargetWindow target(0, 0, kTargetW, kTargetH);
  FakeInput user;
  user.Move(900, 700);
  const pid_t pid =
      Spawn({"cnee", "--replay", "--file", (dir / "moves.xns").string(), "--speed-percent",
             std::to_string(speed), "--no-synchronise", "--force-core-replay"},
            dir, dir / "cnee.log");
  if (pid < 0) return {false, "cnee is not installed"};
  const bool clean = RunToEnd(pid, target, std::chrono::seconds(120));
  Figures f = Measure(moves, target, speed);
  if (!clean && f.ok) f.note = "cnee did not end cleanly";
  if (!f.ok) f.note.append("\n").append(Tail(dir / "cnee.log"));
  return f;
}

void Print(const char* replayer, int speed, const Figures& f) {
  char who[32];
  std::snprintf(who, sizeof who, "%s %3d%%", replayer, speed);
  if (!f.ok) {
    std::printf("%-10s failed: %s\n", who, f.note.c_str());
    return;
  }
  const long drift = f.took - f.recorded;
  std::printf(
      "%-10s due %6ld ms  took %6ld ms  drift %+5ld ms (%+.2f %%)  "
      "gap error p50 %.0f  p99 %.0f  max %.0f ms%s%s\n",
      who, f.recorded, f.took, drift, 100.0 * static_cast<double>(drift) / f.recorded, f.p50, f.p99,
      f.max, f.note.empty() ? "" : "  ", f.note.c_str());
}

bool HaveCnee() { return std::system("command -v cnee >/dev/null 2>&1") == 0; }

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 600;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::vector<Move> moves = MakeMoves(count);
  Xvfb xvfb;
  const fs::path dir =
      fs::temp_directory_path() / std::string("vesk-fidelity-").append(std::to_string(getpid()));
  fs::create_directories(dir);
  const bool cnee = HaveCnee();
  std::printf("%d pointer moves, gaps of 1 to 40 ms, on Xvfb %s; server time stamps\n", count,
              xvfb.display().c_str());
  bool allOk = true;
  for (int round = 1; round <= rounds; ++round) {
    std::printf("round %d\n", round);
    for (const int speed : {100, 50, 200}) {
      const Figures v = RunVesk(moves, dir, speed);
      Print("vesk", speed, v);
      allOk = allOk && v.ok;
      if (cnee) {
        Print("cnee", speed, RunCnee(moves, dir, speed));
      } else {
        std::printf("cnee       not installed (Debian package cnee): no comparison\n");
      }
    }
    std::fflush(stdout);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return allOk ? 0 : 1;
}
