#include "platform/win32/file_dialog.h"

#include <algorithm>

namespace vesk::win32 {

FileDialogSetup::FileDialogSetup(const FileDialogRequest& request, HWND owner)
    : title_(request.title), extension_(request.defaultExtension), file_(kFileBuffer, '\0') {
  filter_ = request.filterDescription;
  filter_.push_back('\0');
  filter_ += request.filterPattern;
  filter_.push_back('\0');  // the string's own terminator ends the list
  const std::size_t n = std::min(request.initialName.size(), file_.size() - 1);
  std::copy_n(request.initialName.begin(), n, file_.begin());

  ofn_.lStructSize = sizeof(ofn_);
  ofn_.hwndOwner = owner;
  ofn_.lpstrFilter = filter_.c_str();
  ofn_.nFilterIndex = 1;
  ofn_.lpstrFile = file_.data();
  ofn_.nMaxFile = static_cast<DWORD>(file_.size());
  ofn_.lpstrTitle = title_.empty() ? nullptr : title_.c_str();
  ofn_.lpstrDefExt = extension_.empty() ? nullptr : extension_.c_str();
  ofn_.Flags = request.flags;
}

}  // namespace vesk::win32
