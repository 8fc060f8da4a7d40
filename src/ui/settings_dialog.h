// The "Playback settings" dialog: edits the main window's settings in place,
// only through Apply.
#pragma once

#include "platform/dialog.h"

namespace vesk {

class RecorderDialog;

inline constexpr int kRepeatMin = 1;
inline constexpr int kRepeatMax = 9999999;

class SettingsDialog : public Dialog {
 public:
  explicit SettingsDialog(RecorderDialog* owner);

  void OnApply();
  void OnBrowse();
  void OnSettingChanged();

  RecorderDialog* owner;
  bool initDone = false;
  Control repeatEdit, repeatSpin, startupCheck, recordedRadio, defaultRadio, pathEdit, browseButton,
      applyButton;

 protected:
  bool OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;
};

}  // namespace vesk
