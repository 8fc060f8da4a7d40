// Parsing the command line (CLI11) and the commands that need no window:
// `check`, `text` and `journal`.
#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <limits>
#include <new>
#include <sstream>

#include "platform/file_writer.h"
#include "platform/regular_file.h"
#include "storage/journal_text.h"

namespace vesk {

namespace {

const PlayOptions* g_run = nullptr;
std::ostream* g_report = nullptr;
volatile std::sig_atomic_t g_signal = 0;
std::atomic<WindowId> g_mainWindow{0};

constexpr const char* kUsage =
    "Usage: vesk [play FILE [--repeat N | --loop] [--speed PERCENT | --default-speed]\n"
    "            [--countdown SECONDS] [EDITS]] | check FILE | text FILE [-o OUT] [EDITS]\n"
    "            | journal FILE -o OUT [EDITS]\n"
    "Run 'vesk --help' for more.\n";

constexpr const char* kExitTable =
    "Exit status of vesk play:\n"
    "  0    every pass played (a --loop run ended by Ctrl+Break and Stop after a whole pass)\n"
    "  1    the run did not finish (paused and stopped, cancelled by the system, the screen\n"
    "       locked, the window closed, the desktop's permission refused or unanswered)\n"
    "  2    bad arguments\n"
    "  3    the journal is missing, unreadable or holds nothing to play\n"
    "  4    no way to send input here (no display, no input path)\n"
    "  130  ended by SIGINT or SIGTERM (held input released first)\n"
    "check, text and journal: 0 done, 1 the output could not be written, 2 bad arguments,\n"
    "3 the input is missing, unreadable or (check) holds nothing to play, or (journal) has an\n"
    "error, named by line and column.\n"
    "With no arguments Vesk starts its window as always; with arguments the settings file is\n"
    "only read, never written.";

void AddEdits(CLI::App& cmd, JournalEdits& edits, std::optional<double>& scale,
              std::optional<std::uint32_t>& maxDelay) {
  cmd.add_option("--scale-delays", scale, "Every delay times F (with --speed on play, both apply)")
      ->check(CLI::Range(0.0, 1000000.0))
      ->type_name("F");
  cmd.add_option("--max-delay", maxDelay, "Pauses longer than MS milliseconds shortened to MS")
      ->check(CLI::Range(0u, 0x7FFFFFFFu))
      ->type_name("MS");
  cmd.add_flag("--trim", edits.trim, "The idle time before the first event set to 0");
  cmd.add_flag("--drop-moves", edits.dropMoves,
               "Pointer moves that end at no click, wheel turn or key and are no drag removed "
               "(their delays go to the next event kept)");
}

std::string Seconds(std::uint64_t ms) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%llu.%03llu s", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  return buf;
}

// A journal file as Play reads it, with the size of the tail it drops.
struct Loaded {
  bool ok = false;
  std::string why;
  std::vector<JournalEntry> entries;
  std::uint64_t tail = 0;
};

Loaded LoadBinary(const std::string& path) {
  Loaded l;
  RegularFile probe;
  if (!probe.Open(path, RegularFile::Mode::Read)) {
    l.why = "Could not open " + path + " for reading";
    return l;
  }
  l.tail = probe.Size() % kJournalRecordSize;
  probe.Close();
  Journal journal;
  const JournalRead read = LoadJournalFile(path, journal, [] {});
  if (read == JournalRead::OpenFailed) {
    l.why = "Could not open " + path + " for reading";
  } else if (read != JournalRead::Loaded) {
    l.why = JournalRefusedLine(read, path);
  } else {
    l.entries = EntriesOf(journal);
    l.ok = true;
  }
  return l;
}

// The whole of a text file (at most 1 GiB: a journal's text is far smaller).
bool ReadText(const std::string& path, std::string& text, std::string& why) {
  RegularFile file;
  if (!file.Open(path, RegularFile::Mode::Read)) {
    why = "Could not open " + path + " for reading";
    return false;
  }
  if (file.Size() > (std::uint64_t{1} << 30)) {
    why = path + " is larger than 1 GiB: not a text journal";
    return false;
  }
  text.resize(static_cast<std::size_t>(file.Size()));
  std::size_t have = 0;
  while (have < text.size()) {
    const std::size_t n = file.Read(text.data() + have, text.size() - have);
    if (n == 0) break;
    have += n;
  }
  text.resize(have);
  return true;
}

int Write(const std::string& path, const std::string& bytes, std::ostream& err) {
  switch (WriteFileReplacing(path, bytes, /*ownerOnly=*/true)) {
    case WriteOutcome::OpenFailed:
      err << "Could not open " << path << " for writing\n";
      return 1;
    case WriteOutcome::WriteFailed:
      err << "Could not write " << path << "\n";
      return 1;
    case WriteOutcome::Written:
      break;
  }
  return 0;
}

void ReportTail(const std::string& path, std::uint64_t tail, std::ostream& err) {
  if (tail != 0) {
    err << path << ": a short tail of " << Count(tail, "byte", "bytes")
        << " after the last whole record "
        << "was dropped, as Play drops it\n";
  }
}

int Check(const std::string& path, std::ostream& out, std::ostream& err) {
  const Loaded l = LoadBinary(path);
  if (!l.ok) {
    err << l.why << "\n";
    return kExitNothingToPlay;
  }
  const JournalStats s = Summarise(l.entries);
  out << path << ": " << Count(s.records, "event", "events") << ", " << s.toPlay << " to play\n";
  out << "One pass: " << Seconds(s.playMillis) << " at recorded speed\n";
  out << "Kinds: " << Count(s.moves, "move", "moves") << ", " << Count(s.clicks, "click", "clicks")
      << ", " << Count(s.keys, "key", "keys") << ", "
      << Count(s.wheel, "wheel turn", "wheel turns");
  if (s.side != 0) out << ", " << Count(s.side, "side button", "side buttons");
  if (s.unknown != 0) out << ", " << s.unknown << " other";
  out << "\n";
  if (s.hasPosition) {
    out << "Screen area: x " << s.minX << " to " << s.maxX << ", y " << s.minY << " to " << s.maxY
        << "\n";
  } else {
    out << "Screen area: no positions\n";
  }
  std::vector<std::string> unusual;
  if (s.otherTags != 0) {
    unusual.push_back(Count(s.otherTags, "record", "records") + " whose tag is not 1 (not played)");
  }
  if (s.impossibleDelays != 0) {
    unusual.push_back(Count(s.impossibleDelays, "delay", "delays") +
                      " above 24.8 days that no recording makes (played as 0)");
  }
  if (s.unreplayable != 0) {
    unusual.push_back(Count(s.unreplayable, "message", "messages") + " no backend replays");
  }
  if (l.tail != 0) {
    unusual.push_back("a short tail of " + Count(l.tail, "byte", "bytes") + " (dropped)");
  }
  if (s.toPlay == 0) unusual.push_back("nothing to play: no record has tag 1");
  out << "Unusual: ";
  if (unusual.empty()) out << "nothing";
  for (std::size_t i = 0; i < unusual.size(); ++i) out << (i == 0 ? "" : "; ") << unusual[i];
  out << "\n";
  return s.toPlay == 0 ? kExitNothingToPlay : 0;
}

int ToText(const std::string& path, const std::string& output, const JournalEdits& edits,
           std::ostream& out, std::ostream& err) {
  const Loaded l = LoadBinary(path);
  if (!l.ok) {
    err << l.why << "\n";
    return kExitNothingToPlay;
  }
  ReportTail(path, l.tail, err);
  const std::string text = JournalToText(ApplyEdits(edits, l.entries));
  if (output.empty()) {
    out << text;
    out.flush();
    return out ? 0 : 1;
  }
  return Write(output, text, err);
}

int ToJournal(const std::string& path, const std::string& output, const JournalEdits& edits,
              std::ostream& err) {
  std::string text, why;
  if (!ReadText(path, text, why)) {
    err << why << "\n";
    return kExitNothingToPlay;
  }
  std::vector<JournalEntry> entries;
  if (!JournalFromText(text, entries, why)) {
    err << path << ": " << why << "\n";
    return kExitNothingToPlay;
  }
  return Write(output, EncodeEntries(ApplyEdits(edits, std::move(entries))), err);
}

}  // namespace

Invocation HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err) {
  Invocation result;
  if (argc <= 1) return result;  // the windowed program, as always
  result.startProgram = false;

  CLI::App app{
      "Vesk records what you do with the mouse and keyboard and plays it back.\n"
      "With no arguments it starts its window.",
      "vesk"};
  app.footer(kExitTable);
  app.require_subcommand(1, 1);

  PlayOptions play;
  std::optional<double> scale;
  std::optional<std::uint32_t> maxDelay;
  std::string file, output;
  CLI::App* playCmd = app.add_subcommand("play", "Play a journal through the window, then exit");
  playCmd->add_option("FILE", play.file, "The journal (.alg)")->required();
  CLI::Option* repeat = playCmd->add_option("--repeat", play.repeat, "Play N passes (N >= 1)")
                            ->check(CLI::Range(1, std::numeric_limits<std::int32_t>::max()))
                            ->type_name("N");
  CLI::Option* loop =
      playCmd->add_flag("--loop", play.loop, "Play until Ctrl+Break and Stop, or a signal");
  repeat->excludes(loop);
  CLI::Option* speed =
      playCmd
          ->add_option("--speed", play.speedPercent,
                       "The recorded pace scaled: 200 twice as fast, 50 half as fast")
          ->check(CLI::Range(1, 100000))
          ->type_name("PERCENT");
  CLI::Option* fixed = playCmd->add_flag("--default-speed", play.defaultSpeed, "20 ms per event");
  speed->excludes(fixed);
  playCmd
      ->add_option("--countdown", play.countdownSeconds,
                   "Seconds announced before playing (10 when not given; 0 for none)")
      ->check(CLI::Range(0, 86400))
      ->type_name("SECONDS");
  AddEdits(*playCmd, play.edits, scale, maxDelay);

  CLI::App* checkCmd = app.add_subcommand("check", "Tell what a journal holds");
  checkCmd->add_option("FILE", file, "The journal (.alg)")->required();

  CLI::App* textCmd = app.add_subcommand("text", "Write a journal's text form");
  textCmd->add_option("FILE", file, "The journal (.alg)")->required();
  textCmd->add_option("-o,--output", output, "Where to write (standard output when not given)");
  JournalEdits textEdits;
  AddEdits(*textCmd, textEdits, scale, maxDelay);

  CLI::App* journalCmd = app.add_subcommand("journal", "Write a text journal's binary form");
  journalCmd->add_option("FILE", file, "The text journal")->required();
  journalCmd->add_option("-o,--output", output, "The journal to write (.alg)")->required();
  JournalEdits journalEdits;
  AddEdits(*journalCmd, journalEdits, scale, maxDelay);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    result.exitStatus = app.exit(e, out, err);
    return result;
  } catch (const CLI::ParseError& e) {
    err << "vesk: " << e.what() << "\n" << kUsage;
    result.exitStatus = kExitBadArguments;
    return result;
  }
  auto withEdits = [&](JournalEdits edits) {
    edits.scaleDelays = scale;
    edits.maxDelay = maxDelay;
    return edits;
  };
  // A huge file may need more memory than there is: a refusal, not a crash.
  try {
    if (*playCmd) {
      play.edits = withEdits(play.edits);
      const Loaded l = LoadBinary(play.file);
      if (!l.ok || Summarise(l.entries).toPlay == 0) {
        err << (l.ok ? play.file + ": nothing to play (no record has tag 1)" : l.why) << "\n";
        result.exitStatus = kExitNothingToPlay;
        return result;
      }
      result.startProgram = true;
      result.play = play;
    } else if (*checkCmd) {
      result.exitStatus = Check(file, out, err);
    } else if (*textCmd) {
      result.exitStatus = ToText(file, output, withEdits(textEdits), out, err);
    } else if (*journalCmd) {
      result.exitStatus = ToJournal(file, output, withEdits(journalEdits), err);
    }
  } catch (const std::bad_alloc&) {
    err << "vesk: not enough memory for " << (*playCmd ? play.file : file) << "\n";
    result.startProgram = false;
    result.play.reset();
    result.exitStatus = kExitNothingToPlay;
  }
  return result;
}

const PlayOptions* TheCommandRun() { return g_run; }
void SetCommandRun(const PlayOptions* run) { g_run = run; }

void SetCommandReport(std::ostream* report) { g_report = report; }
void CommandReport(const std::string& line) {
  if (g_report != nullptr) *g_report << "vesk: " << line << std::endl;
}

void NoteSignal() { g_signal = 1; }
bool SignalNoted() { return g_signal != 0; }
void ClearSignal() { g_signal = 0; }

WindowId RunningMainWindow() { return g_mainWindow.load(); }
void SetRunningMainWindow(WindowId window) { g_mainWindow.store(window); }

}  // namespace vesk
