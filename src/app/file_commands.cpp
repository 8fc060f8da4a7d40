// The main window's file operations: saving and opening journals, and the
// script export of the "SaveBasic" button.
#include <string>
#include <string_view>

#include "app/recorder_dialog.h"
#include "platform/file_writer.h"
#include "script/script_export.h"

namespace vesk {

namespace {

FileDialogRequest JournalDialog(bool save) {
  FileDialogRequest r;
  r.save = save;
  r.title = save ? "Save journal as:" : "Open journal:";
  r.initialName = save ? "Journal.alg" : "";
  r.defaultExtension = "alg";
  r.filterDescription = "Vesk Journal Files (.alg)";
  r.filterPattern = "*.alg";
  // Must-exist belongs to the open dialog only: a save dialog with it would
  // refuse every new file name.
  r.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | (save ? 0u : OFN_FILEMUSTEXIST);
  return r;
}

// Shared by the journal and the script: ask for a path, write the bytes
// whole, report. The bytes are taken after the dialog closes: recording may
// go on while it is open. Journals and scripts hold typed text: owner-only.
template <class Bytes>
RecorderDialog::SaveResult SaveBytesAs(RecorderDialog& dlg, const FileDialogRequest& request,
                                       Bytes bytes) {
  using R = RecorderDialog::SaveResult;
  const std::optional<std::string> chosen = Sys().ShowFileDialog(dlg.GetSafeHwnd(), request);
  if (!chosen || chosen->empty()) return R::Cancelled;
  const std::string& path = *chosen;
  // The bytes are taken once, before any wait; while another program holds
  // the file the window repaints, and nothing that would change what is
  // saved can be pressed.
  const std::string data(bytes());
  bool waited = false;
  const WindowId w = dlg.GetSafeHwnd();
  const auto waiting = [&] {
    waited = true;
    for (const int id : {IDC_RECORD, IDC_PLAY, IDC_STOP, IDC_SAVEBASIC, IDC_SETTINGS}) {
      Sys().EnableControl(w, id, false);
    }
    dlg.AddLogLine("Waiting for another program to let go of " + path + "...");
    Sys().UpdateWindow(w);
  };
  const WriteOutcome outcome = WriteFileReplacing(path, data, /*ownerOnly=*/true, waiting);
  if (waited) {
    Sys().EnableControl(w, IDC_SAVEBASIC, true);
    Sys().EnableControl(w, IDC_SETTINGS, true);
    dlg.UpdateStatus();
  }
  switch (outcome) {
    case WriteOutcome::OpenFailed:
      dlg.AddLogLine("Could not open " + path + " for writing");
      return R::Failed;
    case WriteOutcome::WriteFailed:
      dlg.AddLogLine("Could not write " + path);
      return R::Failed;
    case WriteOutcome::Written:
      break;
  }
  dlg.textStream.Rewind();
  dlg.textStream << "Saved " << dlg.journal.Count() << " records to " << path;
  dlg.AddComposedLine();
  return R::Saved;
}

}  // namespace

RecorderDialog::SaveResult RecorderDialog::SaveJournal() {
  return SaveBytesAs(*this, JournalDialog(true), [this] { return EncodeJournal(journal); });
}

bool RecorderDialog::OpenJournal() {
  const std::optional<std::string> chosen =
      Sys().ShowFileDialog(GetSafeHwnd(), JournalDialog(false));
  if (!chosen || chosen->empty()) return false;
  const std::string& path = *chosen;
  currentEntry = nullptr;
  playPosition = Journal::npos;
  const JournalRead read = LoadJournalFile(path, journal, [] { ScriptText().clear(); });
  if (read == JournalRead::OpenFailed) {
    AddLogLine("Could not open " + path + " for reading");
    return false;
  }
  if (read != JournalRead::Loaded) {
    AddLogLine(JournalRefusedLine(read, path));
    return false;
  }
  textStream.Rewind();
  textStream << "Loaded " << journal.Count() << " records from " << path;
  AddComposedLine();
  return true;
}

void RecorderDialog::SaveScript() {
  SaveBytesAs(*this, ScriptSaveDialog(), [] { return std::string_view(ScriptText()); });
}

}  // namespace vesk
