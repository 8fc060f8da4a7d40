// The settings dialog.
#include "ui/settings_dialog.h"

#include <algorithm>

#include "app/recorder_dialog.h"

namespace vesk {

namespace {

using S = SettingsDialog;

const MessageMapEntry kEntries[] = {
    OnCommand(IDC_APPLY, BN_CLICKED, &CallVoid<S, &S::OnApply>),
    OnCommand(IDC_BROWSE, BN_CLICKED, &CallVoid<S, &S::OnBrowse>),
    OnCommand(IDC_PLAY_AT_STARTUP, BN_CLICKED, &CallVoid<S, &S::OnSettingChanged>),
    OnCommand(IDC_REPEAT_SPIN, BN_CLICKED, &CallVoid<S, &S::OnSettingChanged>),
    OnCommand(IDC_RECORDED_SPEED, BN_CLICKED, &CallVoid<S, &S::OnSettingChanged>),
    OnCommand(IDC_DEFAULT_SPEED, BN_CLICKED, &CallVoid<S, &S::OnSettingChanged>),
    OnCommand(IDC_REPEAT_COUNT, EN_CHANGE, &CallVoid<S, &S::OnSettingChanged>),
    OnCommand(IDC_JOURNAL_PATH, EN_CHANGE, &CallVoid<S, &S::OnSettingChanged>),
};
const MessageMap kMap{nullptr, kEntries};

}  // namespace

SettingsDialog::SettingsDialog(RecorderDialog* dialogOwner)
    : Dialog(kSettingsDialogTemplate, dialogOwner), owner(dialogOwner) {}

const MessageMap* SettingsDialog::GetMessageMap() const { return &kMap; }

bool SettingsDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  repeatEdit = GetDlgItem(IDC_REPEAT_COUNT);
  repeatSpin = GetDlgItem(IDC_REPEAT_SPIN);
  startupCheck = GetDlgItem(IDC_PLAY_AT_STARTUP);
  recordedRadio = GetDlgItem(IDC_RECORDED_SPEED);
  defaultRadio = GetDlgItem(IDC_DEFAULT_SPEED);
  pathEdit = GetDlgItem(IDC_JOURNAL_PATH);
  browseButton = GetDlgItem(IDC_BROWSE);
  applyButton = GetDlgItem(IDC_APPLY);

  const VeskSettings& s = owner->settings;
  repeatSpin.SetRange32(kRepeatMin, kRepeatMax);
  // A count from the file outside the range is shown clamped into it.
  repeatSpin.SetPos32(std::clamp<std::int32_t>(s.repeatCount, kRepeatMin, kRepeatMax));
  startupCheck.SetCheck(s.playAtStartup != 0);
  recordedRadio.SetCheck(s.playAtRecordedSpeed != 0);
  defaultRadio.SetCheck(s.playAtRecordedSpeed == 0);
  pathEdit.SetText(s.defaultJournalPath);
  applyButton.Enable(false);
  initDone = true;
  return true;
}

void SettingsDialog::OnSettingChanged() {
  if (initDone) applyButton.Enable(true);
}

void SettingsDialog::OnApply() {
  VeskSettings& s = owner->settings;
  s.repeatCount = repeatSpin.GetPos32();
  s.playAtStartup = startupCheck.GetCheck() ? 1 : 0;
  s.playAtRecordedSpeed = recordedRadio.GetCheck() ? 1 : 0;
  s.defaultJournalPath = pathEdit.GetText();
  applyButton.Enable(false);
}

void SettingsDialog::OnBrowse() {
  FileDialogRequest r;
  r.title = "Select default journal file:";
  r.initialName = "Journal.alg";
  r.defaultExtension = "alg";
  r.filterDescription = "Vesk Journal Files (.alg)";
  r.filterPattern = "*.alg";
  r.flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_FILEMUSTEXIST;
  if (auto path = Sys().ShowFileDialog(GetSafeHwnd(), r)) pathEdit.SetText(*path);
}

void RecorderDialog::OnSettings() {
  SettingsDialog psd(this);
  psd.DoModal();
  // A command-line run never changes the settings file.
  if (commandRun == nullptr) settings.Save();
}

}  // namespace vesk
