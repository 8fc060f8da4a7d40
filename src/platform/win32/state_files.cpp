// The state folder (%LOCALAPPDATA%\Vesk) and its locked files on Windows:
// CREATE_NEW with the access rule for new files (file_security.h), LockFileEx for
// the lock. Paths are UTF-8 here and wide for the system, so a profile
// folder with any name works.
#include "platform/state_files.h"

#include "platform/win32/file_security.h"
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <string>

namespace vesk {

namespace {

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                          nullptr);
  }
  return s;
}

// The lock covers one byte far past any end of file, so it keeps other
// programs from taking the lock without keeping anyone from reading.
bool Lock(HANDLE file) {
  OVERLAPPED at{};
  at.Offset = 0;
  at.OffsetHigh = 0x7FFFFFFF;
  return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) !=
         FALSE;
}

class Win32HeldFile final : public HeldFile {
 public:
  explicit Win32HeldFile(HANDLE file) : file_(file) {}
  ~Win32HeldFile() override { ::CloseHandle(file_); }  // closing releases the lock

  bool Append(std::string_view bytes) override {
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(file_, end, nullptr, FILE_END)) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
      if (!::WriteFile(file_, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }
  bool Sync() override { return ::FlushFileBuffers(file_) != FALSE; }
  std::uint64_t Size() override {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file_, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  }
  bool ReadAt(std::uint64_t offset, char* buffer, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>((offset + done) & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
      DWORD got = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
      if (!::ReadFile(file_, buffer + done, chunk, &got, &at) || got == 0) return false;
      done += got;
    }
    return true;
  }
  bool Truncate(std::uint64_t size) override {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_);
  }

 private:
  HANDLE file_;
};

class Win32StateFiles final : public StateFiles {
 public:
  std::string StateFolder(std::string* why) override {
    wchar_t buffer[32768];
    const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, 32768);
    if (n == 0 || n >= 32768) {
      *why = "LOCALAPPDATA names no folder";
      return {};
    }
    const std::wstring folder = std::wstring(buffer, n) + L"\\Vesk";
    // The folder takes the profile's access rule (the user, SYSTEM and
    // Administrators), as every folder there does.
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      *why = "cannot create " + Utf8(folder);
      return {};
    }
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      *why = Utf8(folder) + " is not a folder";
      return {};
    }
    return Utf8(folder);
  }

  std::unique_ptr<HeldFile> CreateLocked(const std::string& path, bool* exists) override {
    win32::NewFileSecurity security;
    // CREATE_NEW never opens what is there, a link included. Others may
    // read; nobody else may write, rename or delete it while it is held.
    HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                security.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      *exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
      return nullptr;
    }
    *exists = false;
    if (!Lock(file)) {
      ::CloseHandle(file);
      ::DeleteFileW(Wide(path).c_str());
      return nullptr;
    }
    return std::make_unique<Win32HeldFile>(file);
  }

  std::unique_ptr<HeldFile> LockExisting(const std::string& path) override {
    // A running recorder shares no writing: its file does not even open.
    HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !Lock(file)) {
      ::CloseHandle(file);
      return nullptr;
    }
    return std::make_unique<Win32HeldFile>(file);
  }

  std::vector<std::string> List(const std::string& folder) override {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((Wide(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(Utf8(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
  }

  bool Remove(const std::string& path) override {
    return ::DeleteFileW(Wide(path).c_str()) != FALSE;
  }

  bool RenameNew(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING a name that is taken is refused.
    return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  }

  std::uint32_t ProcessId() override { return ::GetCurrentProcessId(); }

  LocalTime Now() override {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
  }

  std::string Join(const std::string& folder, const std::string& name) override {
    return folder + "\\" + name;
  }
};

}  // namespace

StateFiles& NativeStateFiles() {
  static Win32StateFiles files;
  return files;
}

}  // namespace vesk
