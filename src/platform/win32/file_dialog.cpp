// The common Open and Save dialogs: their settings, and the backend's service.
#include "platform/win32/file_dialog.h"

#include <algorithm>

#include "platform/win32/hook_bridge.h"
#include "platform/win32/paths.h"
#include "platform/win32/win32_backend.h"

namespace vesk::win32 {

namespace {
// The program's own texts (titles, filters, a default name) are ASCII or
// in its code page; anything invalid gives an empty text.
std::wstring Wide(const std::string& text) { return WideText(text).value_or(std::wstring()); }
}  // namespace

FileDialogSetup::FileDialogSetup(const FileDialogRequest& request, HWND owner)
    : title_(Wide(request.title)),
      extension_(Wide(request.defaultExtension)),
      file_(kFileBuffer, L'\0') {
  filter_ = Wide(request.filterDescription);
  filter_.push_back(L'\0');
  filter_ += Wide(request.filterPattern);
  filter_.push_back(L'\0');  // the string's own terminator ends the list
  const std::wstring initial = Wide(request.initialName);
  const std::size_t n = std::min(initial.size(), file_.size() - 1);
  std::copy_n(initial.begin(), n, file_.begin());

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

std::optional<std::string> Win32Backend::ShowFileDialog(WindowId owner,
                                                        const FileDialogRequest& request) {
  FileDialogSetup setup(request, reinterpret_cast<HWND>(owner));
  // The dialogs move the working folder to wherever the user browsed (the
  // Open dialog even with OFN_NOCHANGEDIR); the settings file is found
  // through it, so the start folder is put back whatever happened.
  setup.Settings().Flags |= OFN_NOCHANGEDIR;
  const BOOL ok =
      request.save ? ::GetSaveFileNameW(&setup.Settings()) : ::GetOpenFileNameW(&setup.Settings());
  if (!startFolder_.empty()) ::SetCurrentDirectoryA(startFolder_.c_str());
  if (!ok) return std::nullopt;
  const std::wstring chosen = setup.ChosenPath();
  std::optional<std::string> path = NarrowPath(chosen);
  // Stored damaged, the path would fail now and at every scheduled start.
  if (!path) hooks_->Note(PathRefusedNote(chosen));
  return path;
}

}  // namespace vesk::win32
