// Opening files on Windows for reading or rewriting: ordinary files only.
#include "platform/regular_file.h"

#include <algorithm>

#include "platform/win32/paths.h"
#include "platform/win32/windows_api.h"

namespace vesk {

namespace {
HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

RegularFile::~RegularFile() { Close(); }

bool RegularFile::Open(const std::string& path, Mode mode) {
  Close();
  if (path.empty()) return false;
  const DWORD access = mode == Mode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const DWORD disposition = mode == Mode::Read ? OPEN_EXISTING : OPEN_ALWAYS;
  const std::optional<std::wstring> wide = win32::WidePath(path);
  if (!wide) return false;
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open.
  HANDLE h = ::CreateFileW(wide->c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // Devices (CON, NUL, COM1) and pipes open too: only a disk file will do.
  LARGE_INTEGER size{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size)) {
    ::CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

std::size_t RegularFile::Read(char* buffer, std::size_t n) {
  if (handle_ == kNone) return 0;
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
  if (!::ReadFile(AsHandle(handle_), buffer, chunk, &got, nullptr)) return 0;
  return got;
}

bool RegularFile::Write(std::string_view bytes) {
  if (handle_ == kNone) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), bytes.data() + done, chunk, &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

bool RegularFile::Close() {
  if (handle_ == kNone) return true;
  const bool ok = ::CloseHandle(AsHandle(handle_)) != FALSE;
  handle_ = kNone;
  return ok;
}

}  // namespace vesk
