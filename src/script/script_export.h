// The AutoIt script text that recording collects, and how it is exported.
#pragma once

#include <string>

#include "platform/platform.h"

namespace vesk {

// One text for the whole process: every line ends with CR LF.
std::string& ScriptText();

inline constexpr const char* kDefaultScriptName = "Script.au3";

// The Save dialog of the "SaveBasic" button.
FileDialogRequest ScriptSaveDialog();

}  // namespace vesk
