// The program's dialog templates, described once. Every backend builds its
// windows from these records; rectangles are in dialog units.
#pragma once

#include <cstdint>
#include <span>

namespace vesk {

// Window and control style bits (Win32 values, so the Windows backend can
// pass them straight through; the other backends read the few they need).
namespace style {
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;

inline constexpr std::uint32_t DS_SYSMODAL = 0x0002;  // topmost
inline constexpr std::uint32_t DS_MODALFRAME = 0x0080;
inline constexpr std::uint32_t DS_SETFOREGROUND = 0x0200;
inline constexpr std::uint32_t DS_NOIDLEMSG = 0x0100;
inline constexpr std::uint32_t DS_SHELLFONT = 0x0048;

inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x0001;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x0003;
inline constexpr std::uint32_t BS_AUTORADIOBUTTON = 0x0009;
inline constexpr std::uint32_t BS_GROUPBOX = 0x0007;
inline constexpr std::uint32_t BS_FLAT = 0x8000;

inline constexpr std::uint32_t ES_RIGHT = 0x0002;
inline constexpr std::uint32_t ES_NUMBER = 0x2000;
inline constexpr std::uint32_t ES_READONLY = 0x0800;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080;

inline constexpr std::uint32_t LBS_NOTIFY = 0x0001;
inline constexpr std::uint32_t LBS_NOINTEGRALHEIGHT = 0x0100;

inline constexpr std::uint32_t UDS_WRAP = 0x0001;
inline constexpr std::uint32_t UDS_SETBUDDYINT = 0x0002;
inline constexpr std::uint32_t UDS_ALIGNRIGHT = 0x0004;
inline constexpr std::uint32_t UDS_AUTOBUDDY = 0x0010;
inline constexpr std::uint32_t UDS_ARROWKEYS = 0x0020;
inline constexpr std::uint32_t UDS_NOTHOUSANDS = 0x0080;
inline constexpr std::uint32_t UDS_HOTTRACK = 0x0100;

inline constexpr std::uint32_t SS_LEFTNOWORDWRAP = 0x000C;
inline constexpr std::uint32_t SS_ENDELLIPSIS = 0x4000;
}  // namespace style

enum class ControlKind {
  PushButton,  // includes the default push button (BS_DEFPUSHBUTTON)
  ListBox,
  CheckBox,
  RadioButton,
  Edit,
  UpDown,
  StaticText,
  GroupBox,
};

struct ControlTemplate {
  int id;  // -1 for controls the program never reaches (group boxes)
  ControlKind kind;
  const char* text;
  int x, y, cx, cy;
  std::uint32_t style;
  std::uint32_t exStyle;
};

struct DialogTemplate {
  int id;
  const char* caption;
  int x, y, cx, cy;
  std::uint32_t style;
  const char* fontName;
  int fontPoints;
  std::span<const ControlTemplate> controls;
};

inline constexpr int kMainDialogTemplate = 102;
inline constexpr int kProxyDialogTemplate = 129;
inline constexpr int kSettingsDialogTemplate = 131;
inline constexpr int kAppIcon = 128;

// Control identifiers.
inline constexpr int IDC_RECORD = 1000;
inline constexpr int IDC_PLAY = 1001;
inline constexpr int IDC_LOG = 1002;
inline constexpr int IDC_STOP = 1004;
inline constexpr int IDC_SETTINGS = 1013;
inline constexpr int IDC_SAVEBASIC = 1014;
inline constexpr int IDC_EXIT = 2;

inline constexpr int IDC_PLAY_AT_STARTUP = 1005;
inline constexpr int IDC_REPEAT_SPIN = 1006;
inline constexpr int IDC_RECORDED_SPEED = 1007;
inline constexpr int IDC_DEFAULT_SPEED = 1008;
inline constexpr int IDC_REPEAT_COUNT = 1009;
inline constexpr int IDC_JOURNAL_PATH = 1010;
inline constexpr int IDC_BROWSE = 1011;
inline constexpr int IDC_REPEAT_LABEL = 1012;
inline constexpr int IDC_APPLY = 3;

// The template with that number, or null.
const DialogTemplate* FindDialogTemplate(int id);

// The default push button of a template (the one Enter activates), or -1.
int DefaultButtonOf(const DialogTemplate& t);

// A control of a template by identifier, or null.
const ControlTemplate* FindControl(const DialogTemplate& t, int id);

}  // namespace vesk
