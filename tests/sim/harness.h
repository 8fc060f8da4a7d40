// Runs the whole program on the simulated desktop, in a fresh working
// directory of its own, and reads back what a user would see.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/recorder_app.h"
#include "app/recorder_dialog.h"
#include "common/test_files.h"
#include "platform/sim/sim_desktop.h"
#include "storage/journal.h"
#include "storage/settings.h"

namespace vesk::testing {

// While it lives, files of this process cannot grow past limit bytes: a
// write fails after the open, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit tiny = old_;
    tiny.rlim_cur = limit;
    ok_ = setrlimit(RLIMIT_FSIZE, &tiny) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, SIG_DFL);
  }
  bool ok() const { return ok_; }

 private:
  rlimit old_{};
  bool ok_ = false;
};

// The program running on a simulated desktop.
class SimProgram {
 public:
  SimProgram() { InstallBackend(&sim); }
  ~SimProgram() {
    owned_.reset();  // winds a running program down while the backend is there
    InstallBackend(nullptr);
  }

  void Start() {
    sim.Start([this] { exitCode = RunProgram(); });
    main = sim.FindWindow(kMainDialogTemplate);
  }

  std::vector<std::string> Log() { return sim.LogLines(main); }
  std::string LastLog() {
    auto lines = Log();
    return lines.empty() ? std::string{} : lines.back();
  }
  std::string Title() { return sim.GetWindowText(main); }
  std::string Caption(int id) { return sim.GetControlText(main, id); }
  bool Enabled(int id) { return sim.IsControlEnabled(main, id); }
  sim::SimWindow& Main() { return *sim.Window(main); }
  // The running main window (read it only between test actions).
  RecorderDialog& Dlg() { return *static_cast<RecorderDialog*>(sim.Window(main)->sink); }
  // Lines added to the log since the given count.
  std::vector<std::string> LogSince(std::size_t from) {
    auto all = Log();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
  }
  // Play: the open dialog answers with path.
  void Play(const std::string& path) {
    sim.AnswerFileDialog(path);
    sim.Click(main, IDC_PLAY);
  }
  bool Running() { return !sim.Finished(); }

  TempDir dir;  // first member: the program's files go there

 private:
  std::unique_ptr<sim::SimDesktop> owned_ = std::make_unique<sim::SimDesktop>();

 public:
  sim::SimDesktop& sim = *owned_;
  WindowId main = 0;
  int exitCode = -1;
};

inline JournalEntry Move(std::uint32_t x, std::uint32_t y, std::uint32_t delay) {
  return {1, {WM_MOUSEMOVE, x, y, delay, 0}};
}

// Writes a journal file of the given entries.
inline void WriteJournal(const std::string& path, const std::vector<JournalEntry>& entries) {
  Journal j;
  for (const auto& e : entries) j.Append(e);
  WriteFile(path, EncodeJournal(j));
}

inline void WriteSettings(int repeat, bool startup, bool recordedSpeed, const std::string& path) {
  VeskSettings s;
  s.repeatCount = repeat;
  s.playAtStartup = startup ? 1 : 0;
  s.playAtRecordedSpeed = recordedSpeed ? 1 : 0;
  s.defaultJournalPath = path;
  ASSERT_TRUE(s.Save());
}

inline long Count(const std::vector<std::string>& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

}  // namespace vesk::testing
