// The program's command line: `vesk play`, `check`, `text` and `journal`.
// With no arguments the program is exactly the windowed recorder.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "platform/types.h"
#include "storage/journal_edits.h"

namespace vesk {

// Exit statuses of `vesk play` (the automatic run at start-up keeps 0 and 1).
inline constexpr int kExitPlayed = 0;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitNothingToPlay = 3;
inline constexpr int kExitNoInput = 4;
inline constexpr int kExitSignal = 130;

// One `vesk play` run; options not given come from the settings file.
struct PlayOptions {
  std::string file;
  std::optional<std::int32_t> repeat;  // passes, >= 1
  bool loop = false;                   // until Ctrl+Break and Stop, or a signal
  std::optional<std::int32_t> speedPercent;
  bool defaultSpeed = false;  // 20 ms per event
  std::optional<std::int32_t> countdownSeconds;
  JournalEdits edits;
};

// What the platform's main does next.
struct Invocation {
  bool startProgram = true;  // false: exit with exitStatus, no window system needed
  int exitStatus = 0;
  std::optional<PlayOptions> play;  // a `vesk play` run of the windowed program
};

// Parses the command line and carries out the commands that need no window
// (`check`, `text`, `journal`, `--help`, bad arguments). Output goes to out,
// reports and errors to err.
Invocation HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

// The `vesk play` run the main window carries out, or null (no arguments).
const PlayOptions* TheCommandRun();
void SetCommandRun(const PlayOptions* run);

// Where the run reports what the user should know (the settings fallback,
// the outcome); null: nowhere.
void SetCommandReport(std::ostream* report);
void CommandReport(const std::string& line);

// SIGINT or SIGTERM arrived: the running program releases held input and
// ends with kExitSignal. The flag is async-signal-safe to set; EndBySignal
// runs on the user-interface thread.
void NoteSignal();
bool SignalNoted();
void ClearSignal();
void EndBySignal();
// The main window of a running `vesk play`, for a signal that arrives on
// another thread (a console's Ctrl+C on Windows) to post its close to; 0
// when none.
WindowId RunningMainWindow();
void SetRunningMainWindow(WindowId window);

}  // namespace vesk
