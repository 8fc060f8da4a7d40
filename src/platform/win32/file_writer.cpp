#include "platform/file_writer.h"

#include "platform/win32/owner_only.h"
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace vesk {

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
bool DeniedWriting(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE,
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
         error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

constexpr int kReplaceTries = 10;
constexpr DWORD kReplaceRetryMs = 100;  // about a second in all

DWORD ReplaceWithRetry(const std::string& temp, const std::string& path) {
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExA(temp.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    if (!IsTransient(error) || attempt == kReplaceTries) return error;
    ::Sleep(kReplaceRetryMs);
  }
}

}  // namespace

void SetTempNameSourceForTesting(std::function<std::string()> next) {
  TestNames() = std::move(next);
}

WriteOutcome WriteFileReplacing(const std::string& path, std::string_view bytes, bool ownerOnly) {
  if (path.empty() || path.back() == '/' || path.back() == '\\') return WriteOutcome::OpenFailed;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // A folder, a read-only file or one this user may not write stays as it is.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      return WriteOutcome::OpenFailed;
    }
    if (DeniedWriting(path)) return WriteOutcome::OpenFailed;
  }

  const std::string folder = Folder(path);
  OwnerOnly security;
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  // CREATE_NEW never opens what is there: a name taken by anyone (a file, a
  // link, another save) is skipped.
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = folder + (TestNames() ? TestNames()() : RandomTempName());
    file =
        ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, ownerOnly ? security.Attributes() : nullptr,
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
    ::DeleteFileA(temp.c_str());
    return WriteOutcome::WriteFailed;
  }
  const DWORD error = ReplaceWithRetry(temp, path);
  if (error == ERROR_SUCCESS) return WriteOutcome::Written;
  ::DeleteFileA(temp.c_str());
  // Still held by another program, or not ours to replace: the open failed.
  return IsTransient(error) ? WriteOutcome::OpenFailed : WriteOutcome::WriteFailed;
}

}  // namespace vesk
