// The settings of a common Open or Save dialog, as GetOpenFileNameA and
// GetSaveFileNameA take them.
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
  OPENFILENAMEA& Settings() { return ofn_; }
  // The path the dialog left in the file buffer.
  std::string ChosenPath() const { return std::string(file_.data()); }

  // Room for a long path and its terminator.
  static constexpr std::size_t kFileBuffer = 32768;

 private:
  std::string title_;
  std::string filter_;  // description NUL pattern NUL NUL
  std::string extension_;
  std::vector<char> file_;
  OPENFILENAMEA ofn_{};
};

}  // namespace vesk::win32
