// Values and records the program exchanges with the operating system.
// They keep the Windows vocabulary because journal files store these values
// and the engine's logic is written in them.
#pragma once

#include <cstdint>

namespace vesk {

// Opaque handles. Zero is the null handle.
using WindowId = std::uintptr_t;
using HookHandle = std::uintptr_t;
using ModuleHandle = std::uintptr_t;
using MutexHandle = std::uintptr_t;

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

// One input event as the journal hooks exchange it.
struct EVENTMSG {
  std::uint32_t message = 0;
  std::uint32_t paramL = 0;
  std::uint32_t paramH = 0;
  std::uint32_t time = 0;
  std::uint32_t hwnd = 0;
};

inline bool operator==(const EVENTMSG& a, const EVENTMSG& b) {
  return a.message == b.message && a.paramL == b.paramL && a.paramH == b.paramH &&
         a.time == b.time && a.hwnd == b.hwnd;
}

// What the get-message hook sees (lParam points at one).
struct MSG {
  WindowId hwnd = 0;
  std::uint32_t message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
  std::uint32_t time = 0;
  std::int32_t ptX = 0;
  std::int32_t ptY = 0;
};

// What the low-level keyboard hook sees (lParam points at one).
struct KBDLLHOOKSTRUCT {
  std::uint32_t vkCode = 0;
  std::uint32_t scanCode = 0;
  std::uint32_t flags = 0;
  std::uint32_t time = 0;
  std::uintptr_t dwExtraInfo = 0;
};

using HookProc = LResult (*)(int code, WParam wParam, LParam lParam);

// Hook kinds.
inline constexpr int WH_JOURNALRECORD = 0;
inline constexpr int WH_JOURNALPLAYBACK = 1;
inline constexpr int WH_GETMESSAGE = 3;
inline constexpr int WH_KEYBOARD_LL = 13;

// Hook codes.
inline constexpr int HC_ACTION = 0;
inline constexpr int HC_GETNEXT = 1;
inline constexpr int HC_SKIP = 2;

// Window messages.
inline constexpr std::uint32_t WM_PAINT = 0x000F;
inline constexpr std::uint32_t WM_CLOSE = 0x0010;
inline constexpr std::uint32_t WM_ICONERASEBKGND = 0x0027;
inline constexpr std::uint32_t WM_QUERYDRAGICON = 0x0037;
inline constexpr std::uint32_t WM_CANCELJOURNAL = 0x004B;
// Posted to the program's thread when the backend has a line for the log
// (Backend::TakeNote); in the WM_APP range, which no system message uses.
inline constexpr std::uint32_t WM_VESK_NOTE = 0x8000 + 0x0156;
inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_KEYUP = 0x0101;
inline constexpr std::uint32_t WM_SYSKEYDOWN = 0x0104;
inline constexpr std::uint32_t WM_SYSKEYUP = 0x0105;
inline constexpr std::uint32_t WM_COMMAND = 0x0111;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr std::uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr std::uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr std::uint32_t WM_MBUTTONUP = 0x0208;
inline constexpr std::uint32_t WM_MOUSEWHEEL = 0x020A;
// Side buttons: the button in the record's hwnd field (XBUTTON1 back,
// XBUTTON2 forward).
inline constexpr std::uint32_t WM_XBUTTONDOWN = 0x020B;
inline constexpr std::uint32_t WM_XBUTTONUP = 0x020C;
// Sideways scrolling: the signed delta in hwnd, positive to the right.
inline constexpr std::uint32_t WM_MOUSEHWHEEL = 0x020E;
inline constexpr std::uint32_t XBUTTON1 = 1;
inline constexpr std::uint32_t XBUTTON2 = 2;
// Whether a side-button record names a button; only a damaged file has one
// that does not, and no backend replays it.
inline constexpr bool NamesSideButton(const EVENTMSG& e) {
  return e.hwnd == XBUTTON1 || e.hwnd == XBUTTON2;
}
// First value RegisterWindowMessage hands out.
inline constexpr std::uint32_t WM_REGISTERED_FIRST = 0xC000;

// Virtual-key codes the program itself looks at.
inline constexpr std::uint32_t VK_CANCEL = 0x03;
inline constexpr std::uint32_t VK_RETURN = 0x0D;
inline constexpr std::uint32_t VK_SHIFT = 0x10;
inline constexpr std::uint32_t VK_CONTROL = 0x11;
inline constexpr std::uint32_t VK_PAUSE = 0x13;
inline constexpr std::uint32_t VK_ESCAPE = 0x1B;

// Notification codes carried in the high word of WM_COMMAND's wParam.
inline constexpr std::uint32_t BN_CLICKED = 0;
inline constexpr std::uint32_t EN_CHANGE = 0x0300;

inline constexpr WParam MakeCommandWParam(int controlId, std::uint32_t notify) {
  return (static_cast<WParam>(notify & 0xFFFFu) << 16) | (static_cast<WParam>(controlId) & 0xFFFFu);
}
inline constexpr int CommandId(WParam wParam) { return static_cast<int>(wParam & 0xFFFFu); }
inline constexpr std::uint32_t CommandNotify(WParam wParam) {
  return static_cast<std::uint32_t>((wParam >> 16) & 0xFFFFu);
}

// Dialog results and standard control identifiers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Extended window styles and layered-window flags.
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr std::uint32_t WS_EX_TOPMOST = 0x00000008;
inline constexpr std::uint32_t WS_EX_TRANSPARENT = 0x00000020;
inline constexpr std::uint32_t WS_EX_RIGHT = 0x00001000;
inline constexpr std::uint32_t WS_EX_LAYERED = 0x00080000;
inline constexpr std::uint32_t LWA_ALPHA = 0x2;

// Message box styles (Yes/No, question icon, task-modal).
inline constexpr std::uint32_t MB_YESNO = 0x0004;
inline constexpr std::uint32_t MB_ICONQUESTION = 0x0020;
inline constexpr std::uint32_t MB_TASKMODAL = 0x2000;

// Common file dialog options.
inline constexpr std::uint32_t OFN_OVERWRITEPROMPT = 0x0002;
inline constexpr std::uint32_t OFN_HIDEREADONLY = 0x0004;
inline constexpr std::uint32_t OFN_FILEMUSTEXIST = 0x1000;

// System metrics.
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;

// Wait results.
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_ABANDONED = 0x80;
inline constexpr std::uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;

}  // namespace vesk
