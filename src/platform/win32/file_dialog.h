// The settings of a common Open or Save dialog, as GetOpenFileNameW and
// GetSaveFileNameW take them: the dialogs hand back any name the file
// system holds, and the program decides whether its code page can keep it.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace vesk::win32 {

class FileDialogSetup {
 public:
  FileDialogSetup(const FileDialogRequest& request, HWND owner);
  FileDialogSetup(const FileDialogSetup&) = delete;
  FileDialogSetup& operator=(const FileDialogSetup&) = delete;

  // Points into this object's own strings.
  OPENFILENAMEW& Settings() { return ofn_; }
  // The path the dialog left in the file buffer.
  std::wstring ChosenPath() const { return std::wstring(file_.data()); }

  // Room for a long path and its terminator.
  static constexpr std::size_t kFileBuffer = 32768;

 private:
  std::wstring title_;
  std::wstring filter_;  // description NUL pattern NUL NUL
  std::wstring extension_;
  std::vector<wchar_t> file_;
  OPENFILENAMEW ofn_{};
};

}  // namespace vesk::win32
