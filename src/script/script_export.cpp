// The script text recording collects, and its export.
#include "script/script_export.h"

namespace vesk {

namespace {
std::string g_scriptText;
}  // namespace

std::string& ScriptText() { return g_scriptText; }

FileDialogRequest ScriptSaveDialog() {
  FileDialogRequest r;
  r.save = true;
  r.title = "Save script as:";
  r.initialName = kDefaultScriptName;
  r.defaultExtension = "au3";
  r.filterDescription = "AutoIT Script Files (.au3)";
  r.filterPattern = "*.au3";
  // The must-exist option would refuse every new name in a save dialog.
  r.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  return r;
}

}  // namespace vesk
