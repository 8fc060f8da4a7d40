// The Win32 declarations the backend uses. Our platform vocabulary keeps
// the Windows names (WM_PAINT, EVENTMSG, MessageBox, ...) and <windows.h>
// defines many of them as macros, so our headers are read first and the
// macros that would rename Backend's members are removed afterwards.
// Inside namespace vesk, MSG, EVENTMSG and KBDLLHOOKSTRUCT are ours; the
// system's are ::MSG, ::EVENTMSG and ::KBDLLHOOKSTRUCT.
#pragma once

#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#undef CreateMutex
#undef GetWindowLong
#undef GetWindowText
#undef LoadLibrary
#undef MessageBox
#undef PostMessage
#undef RegisterWindowMessage
#undef SetWindowLong
#undef SetWindowsHookEx
#undef SetWindowText
