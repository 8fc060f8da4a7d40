// The main window's automatic run: the notice, the wait and the play at start-up.
#include "app/recorder_dialog.h"
#include "script/script_export.h"

namespace vesk {

namespace {
constexpr const char* kNotice[] = {
    "             ATTENTION !!!",
    "-------------------------------------------",
    "Vesk is currently set up to start playback",
    "automatically. Automatic playback will start",
    "in 10 seconds. Once it starts, you can stop it",
    "by pressing Ctrl+Break, and then clicking Stop",
    "button. You can change this setting later.",
    "-------------------------------------------",
    "",
};
constexpr std::uint32_t kStartDelayMs = 10000;
}  // namespace

LResult RecorderDialog::OnAutomaticPlayback(WParam, LParam) {
  if (commandRun != nullptr) {
    StartCommandRun();
    return 0;
  }
  for (const char* line : kNotice) AddLogLine(line);
  // The notice must be on screen before the thread stops for the wait.
  UpdateWindow();
  Sys().Sleep(kStartDelayMs);
  autoPlayback = true;
  autoRunUnfinished = true;
  AddLogLine("Auto Playback Started");
  const std::string filepath = settings.defaultJournalPath;
  if (filepath.empty()) return 0;
  currentEntry = nullptr;
  playPosition = Journal::npos;
  const JournalRead read = LoadJournalFile(filepath, journal, [] { ScriptText().clear(); });
  if (read == JournalRead::OpenFailed) {
    std::string status = "Failed to open " + filepath + " for reading";
    AddLogLine(status);
    return 0;
  }
  if (read != JournalRead::Loaded) {
    AddLogLine(JournalRefusedLine(read, filepath));
    return 0;
  }
  textStream.Rewind();
  textStream << "Loaded " << journal.Count() << " records from " << filepath;
  AddComposedLine();
  BeginPlayback();
  return 0;
}

}  // namespace vesk
