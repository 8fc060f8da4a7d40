// What this Windows allows: which input path recording and playback take,
// and why the system took input away. The decisions are plain functions of
// the facts so that they can be tested where the situation itself (real
// elevation, a locked session, journal hooks) cannot be produced.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

enum class JournalMode {
  Automatic,  // system journal hooks where they work, the low-level path elsewhere
  LowLevel,   // always the low-level path
  System,     // always the system journal hooks (fails where they are missing)
};

struct SystemFacts {
  bool wine = false;
  DWORD major = 10;
  DWORD build = 19045;
  bool elevated = false;  // a full administrator token
  bool uiAccess = false;  // signed, installed and asking for UI access
};
SystemFacts CurrentSystemFacts();
// True under Wine (ntdll exports wine_get_version).
bool RunningOnWine();

struct PathChoice {
  bool lowLevel = true;
  std::string note;  // the log line naming the path and why
};
PathChoice ChooseInputPath(JournalMode mode, const SystemFacts& facts);

// Why the journal hooks were cancelled, for the log line after
// "PAUSED BY SYSTEM".
enum class CancelCause {
  CtrlEsc,
  DesktopSwitch,           // Ctrl+Alt+Del, Win+L, an elevation prompt's secure desktop
  SessionLocked,           // lock, disconnect, log off
  HookTimeout,             // our low-level hooks answered late: the system may have dropped them
  ElevatedWindow,          // the window in front runs at a higher integrity level
  InjectionRefused,        // SendInput took fewer events than given, for no reason we can see
  DesktopCannotTakeInput,  // the input desktop is not ours (locked, non-interactive)
  SystemJournal,           // the system cancelled its own journal hooks
};
std::string CancelReasonText(CancelCause cause);

// The log line for hooks the system dropped and the hook thread put back:
// input between the ticks from and to may be missing. now is the current
// tick, which places them on the local clock.
std::string InputGapNote(DWORD from, DWORD to, DWORD now);

// A WTS_* session change code: the cause when it takes the desktop away.
std::optional<CancelCause> CauseForSessionChange(WPARAM change);

// What playback knows before and after handing events to SendInput.
struct InjectionFacts {
  bool inputDesktopOurs = true;
  // Integrity levels (SECURITY_MANDATORY_*_RID): keys go to the window in
  // front, mouse input to the window under the pointer; nothing when there
  // is no such window.
  DWORD ownIntegrity = SECURITY_MANDATORY_MEDIUM_RID;
  std::optional<DWORD> foregroundIntegrity;
  std::optional<DWORD> pointerIntegrity;
  bool mouse = false;  // the event is mouse input
  UINT asked = 0;
  UINT sent = 0;
};
// Before sending (asked == sent == 0) or after: the cause to cancel for,
// nothing when the input can go (or went) through. User interface
// privilege isolation drops input to a higher window silently, so that is
// decided before sending.
std::optional<CancelCause> JudgeInjection(const InjectionFacts& facts);

// The live facts.
bool InputDesktopIsOurs();
DWORD OwnIntegrity();
// The integrity level of the process owning the window; nothing for none.
std::optional<DWORD> WindowIntegrity(HWND window);

}  // namespace vesk::win32
