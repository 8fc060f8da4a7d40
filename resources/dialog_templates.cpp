// The three dialog templates as data: controls, captions, positions and styles.
#include "resources/dialog_templates.h"

#include <array>

#include "platform/types.h"

namespace vesk {
namespace {

using namespace style;

constexpr std::uint32_t kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_FLAT;

constexpr std::array kMainControls{
    ControlTemplate{IDC_SAVEBASIC, ControlKind::PushButton, "SaveBasic", 241, 216, 46, 11,
                    kButton | BS_DEFPUSHBUTTON, 0},
    ControlTemplate{IDC_EXIT, ControlKind::PushButton, "Exit", 289, 216, 46, 11, kButton, 0},
    ControlTemplate{IDC_RECORD, ControlKind::PushButton, "Record", 4, 214, 75, 13, kButton, 0},
    ControlTemplate{IDC_PLAY, ControlKind::PushButton, "Play", 81, 214, 75, 13, kButton, 0},
    ControlTemplate{IDC_LOG, ControlKind::ListBox, "", 0, 0, 338, 211,
                    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY |
                        LBS_NOINTEGRALHEIGHT,
                    0},
    ControlTemplate{IDC_STOP, ControlKind::PushButton, "Stop", 161, 214, 25, 13, kButton, 0},
    ControlTemplate{IDC_SETTINGS, ControlKind::PushButton, "Settings...", 190, 216, 45, 11, kButton,
                    0},
};

constexpr std::array kSettingsControls{
    ControlTemplate{
        IDC_REPEAT_COUNT, ControlKind::Edit, "", 9, 12, 48, 12,
        WS_CHILD | WS_VISIBLE | WS_BORDER | ES_READONLY | ES_NUMBER | ES_AUTOHSCROLL | ES_RIGHT,
        WS_EX_RIGHT},
    ControlTemplate{IDC_REPEAT_SPIN, ControlKind::UpDown, "", 95, 74, 11, 11,
                    WS_CHILD | WS_VISIBLE | UDS_WRAP | UDS_SETBUDDYINT | UDS_ALIGNRIGHT |
                        UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS | UDS_HOTTRACK,
                    0},
    ControlTemplate{IDC_PLAY_AT_STARTUP, ControlKind::CheckBox, "Play at startup (for scheduling)",
                    10, 26, 134, 11, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX | BS_FLAT,
                    0},
    ControlTemplate{IDC_RECORDED_SPEED, ControlKind::RadioButton, "Play at recorded speed", 155, 12,
                    152, 9, WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | BS_FLAT, 0},
    ControlTemplate{IDC_DEFAULT_SPEED, ControlKind::RadioButton,
                    "Play at default speed (delay 20 milliseconds)", 155, 23, 158, 12,
                    WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | BS_FLAT, 0},
    ControlTemplate{IDC_JOURNAL_PATH, ControlKind::Edit, "", 10, 51, 256, 12,
                    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0},
    ControlTemplate{IDC_BROWSE, ControlKind::PushButton, "Browse...", 268, 51, 50, 12, kButton, 0},
    ControlTemplate{IDOK, ControlKind::PushButton, "OK", 218, 72, 50, 12,
                    kButton | BS_DEFPUSHBUTTON, 0},
    ControlTemplate{IDCANCEL, ControlKind::PushButton, "Cancel", 270, 72, 50, 12, kButton, 0},
    ControlTemplate{IDC_REPEAT_LABEL, ControlKind::StaticText, "Times to repeat playback", 59, 14,
                    81, 8, WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, 0},
    ControlTemplate{-1, ControlKind::GroupBox, "Options", 5, 1, 143, 38,
                    WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0},
    ControlTemplate{-1, ControlKind::GroupBox, "Speed", 151, 1, 169, 38,
                    WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0},
    ControlTemplate{-1, ControlKind::GroupBox, "File", 5, 41, 315, 28,
                    WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0},
    ControlTemplate{IDC_APPLY, ControlKind::PushButton, "Apply", 161, 72, 50, 12, kButton, 0},
};

constexpr std::uint32_t kDialogFrame =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT;

constexpr DialogTemplate kTemplates[] = {
    {kMainDialogTemplate, "Vesk", 0, 0, 338, 230,
     kDialogFrame | WS_VISIBLE | DS_SYSMODAL | DS_SETFOREGROUND | DS_NOIDLEMSG, "MS Shell Dlg", 8,
     kMainControls},
    {kProxyDialogTemplate,
     "Proxy Dialog (Vesk) - Invisible",
     0,
     0,
     246,
     34,
     kDialogFrame | WS_DISABLED,
     "MS Shell Dlg",
     8,
     {}},
    {kSettingsDialogTemplate, "Playback settings", 0, 0, 325, 87, kDialogFrame | WS_VISIBLE,
     "MS Shell Dlg", 8, kSettingsControls},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
  for (const auto& t : kTemplates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

int DefaultButtonOf(const DialogTemplate& t) {
  for (const auto& c : t.controls) {
    if (c.kind == ControlKind::PushButton && (c.style & style::BS_DEFPUSHBUTTON) != 0) return c.id;
  }
  return -1;
}

const ControlTemplate* FindControl(const DialogTemplate& t, int id) {
  for (const auto& c : t.controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

}  // namespace vesk
