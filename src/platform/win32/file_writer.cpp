// Whole-file writes on Windows: a new file replaced over the target only when complete.
#include "platform/file_writer.h"

#include "platform/win32/file_security.h"
#include "platform/win32/paths.h"
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace vesk {

using win32::WidePath;

namespace {

bool WriteAll(HANDLE file, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

std::function<std::string()>& TestNames() {
  static std::function<std::string()> next;
  return next;
}

std::string RandomTempName() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device source;
  std::string name = ".vesk-";
  for (int i = 0; i < 6; ++i) name += kChars[source() % (sizeof kChars - 1)];
  return name;
}

// The folder part with its separator ("" for a bare name, "C:" for a
// drive-relative one), so the temporary file is on the target's volume.
std::string Folder(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  if (slash != std::string::npos) return path.substr(0, slash + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return "";
}

// True when this user may not write the existing file at all (its access
// list says no). Opening for writing with full sharing changes nothing.
bool DeniedWriting(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_ACCESS_DENIED;
  ::CloseHandle(h);
  return false;
}

// Virus scanners and indexers open a file for a moment after it changes;
// replacing it then fails with one of these.
bool IsTransient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE ||
         error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Such holds last seconds: sync clients upload, scanners read it all.
constexpr DWORD kHoldWaitMs = 8000;
constexpr DWORD kReplaceRetryMs = 100;

// Waits without letting the window freeze: it repaints (the log shows the
// waiting line), while clicks and keys stay queued until the save is over,
// so nothing changes under it.
void WaitPainting(DWORD milliseconds) {
  const ULONGLONG end = ::GetTickCount64() + milliseconds;
  for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_PAINT);
    ::MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) ::DispatchMessageW(&msg);
  }
}

// An existing target keeps what the user set on it (attributes, access
// list, streams): the system's replace copies them to the new file. A new
// one is renamed into place.
bool ReplaceOnce(const std::wstring& temp, const std::wstring& path, bool exists) {
  if (exists) {
    // Asked first whether another program holds the target: a replace that
    // fails half-way may leave its own temporary files behind.
    HANDLE probe = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(probe);
    return ::ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                          nullptr, nullptr) != FALSE;
  }
  return ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

DWORD ReplaceWithRetry(const std::wstring& temp, const std::wstring& path, bool exists,
                       const std::function<void()>& waiting) {
  const ULONGLONG start = ::GetTickCount64();
  for (bool told = false;;) {
    if (ReplaceOnce(temp, path, exists)) return ERROR_SUCCESS;
    DWORD error = ::GetLastError();
    if (!exists && error == ERROR_ALREADY_EXISTS) {
      exists = true;  // someone created it meanwhile: replace it as theirs
      continue;
    }
    if (!IsTransient(error) || ::GetTickCount64() - start >= kHoldWaitMs) return error;
    if (!told && ::GetTickCount64() - start >= 2 * kReplaceRetryMs) {
      told = true;  // a moment's hold needs no line; a longer one does
      if (waiting) waiting();
    }
    WaitPainting(kReplaceRetryMs);
  }
}

}  // namespace

void SetTempNameSourceForTesting(std::function<std::string()> next) {
  TestNames() = std::move(next);
}

WriteOutcome WriteFileReplacing(const std::string& path, std::string_view bytes, bool ownerOnly,
                                const std::function<void()>& waiting) {
  if (path.empty() || path.back() == '/' || path.back() == '\\') return WriteOutcome::OpenFailed;
  const std::optional<std::wstring> target = WidePath(path);
  if (!target) return WriteOutcome::OpenFailed;
  const DWORD attributes = ::GetFileAttributesW(target->c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists) {
    // A folder, a read-only file or one this user may not write stays as it is.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      return WriteOutcome::OpenFailed;
    }
    if (DeniedWriting(*target)) return WriteOutcome::OpenFailed;
  }

  const std::string folder = Folder(path);
  win32::NewFileSecurity security;
  std::wstring temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  // CREATE_NEW never opens what is there: a name taken by anyone (a file, a
  // link, another save) is skipped.
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    const std::optional<std::wstring> name =
        win32::WidePath(folder + (TestNames() ? TestNames()() : RandomTempName()));
    if (!name) return WriteOutcome::OpenFailed;
    temp = *name;
    file =
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, ownerOnly ? security.Attributes() : nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return WriteOutcome::OpenFailed;
    }
  }
  if (file == INVALID_HANDLE_VALUE) return WriteOutcome::OpenFailed;
  bool ok = WriteAll(file, bytes);
  if (ok && !::FlushFileBuffers(file)) ok = false;
  if (!::CloseHandle(file)) ok = false;
  if (!ok) {
    ::DeleteFileW(temp.c_str());
    return WriteOutcome::WriteFailed;
  }
  // The system's replace keeps the target's access list and streams; its
  // attributes are carried over here too, where a replace may not (Wine).
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (exists && (attributes & kKept) != 0) ::SetFileAttributesW(temp.c_str(), attributes & kKept);
  const DWORD error = ReplaceWithRetry(temp, *target, exists, waiting);
  if (error == ERROR_SUCCESS) return WriteOutcome::Written;
  ::DeleteFileW(temp.c_str());
  // Still held by another program, or not ours to replace: the open failed.
  return IsTransient(error) ? WriteOutcome::OpenFailed : WriteOutcome::WriteFailed;
}

}  // namespace vesk
