// Turns one of the program's dialog templates into the in-memory
// DLGTEMPLATE that CreateDialogIndirectParam takes.
#pragma once

#include <vector>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

// The window is described hidden (RunModalLoop shows it); a system-modal
// template becomes a topmost window. The words start on a DWORD boundary.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& tmpl);

// The window class of a control kind, as the template names it.
const wchar_t* ControlClassName(ControlKind kind);

}  // namespace vesk::win32
