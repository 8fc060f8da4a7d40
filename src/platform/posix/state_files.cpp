// The state folder and its locked files on POSIX systems: flock for the
// lock, O_EXCL|O_NOFOLLOW and owner-only permissions for new files.
#include "platform/state_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vesk {

namespace {

class PosixHeldFile final : public HeldFile {
 public:
  explicit PosixHeldFile(int fd) : fd_(fd) {}
  ~PosixHeldFile() override { ::close(fd_); }  // closing releases the flock

  bool Append(std::string_view bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool Sync() override { return ::fdatasync(fd_) == 0 || errno == EINVAL; }
  std::uint64_t Size() override {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  }
  bool ReadAt(std::uint64_t offset, char* buffer, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
  bool Truncate(std::uint64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }

 private:
  int fd_;
};

// Takes the lock or closes fd.
std::unique_ptr<HeldFile> Hold(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixHeldFile>(fd);
}

// Creates every missing folder of path, owner-only.
bool MakeFolders(const std::string& path, std::string* why) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = "cannot create " + part + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

class PosixStateFiles final : public StateFiles {
 public:
  std::string StateFolder(std::string* why) override {
    std::string folder;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_STATE_HOME is invalid and ignored.
    if (state != nullptr && state[0] == '/') {
      folder = std::string(state) + "/vesk";
    } else if (home != nullptr && home[0] == '/') {
      folder = std::string(home) + "/.local/state/vesk";
    } else {
      *why = "neither XDG_STATE_HOME nor HOME names a folder";
      return {};
    }
    if (!MakeFolders(folder, why)) return {};
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *why = folder + " is not a folder";
      return {};
    }
    // A folder someone else owns could hold names they planted.
    if (st.st_uid != ::geteuid()) {
      *why = folder + " belongs to another user";
      return {};
    }
    return folder;
  }

  std::unique_ptr<HeldFile> CreateLocked(const std::string& path, bool* exists) override {
    *exists = false;
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      *exists = errno == EEXIST;
      return nullptr;
    }
    std::unique_ptr<HeldFile> held = Hold(fd);
    if (!held) ::unlink(path.c_str());
    return held;
  }

  std::unique_ptr<HeldFile> LockExisting(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
      ::close(fd);
      return nullptr;
    }
    return Hold(fd);
  }

  std::vector<std::string> List(const std::string& folder) override {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* e = ::readdir(dir)) names.emplace_back(e->d_name);
    ::closedir(dir);
    return names;
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  bool RenameNew(const std::string& from, const std::string& to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: a hard link never replaces either.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
  }

  std::uint32_t ProcessId() override { return static_cast<std::uint32_t>(::getpid()); }

  LocalTime Now() override {
    const std::time_t now = std::time(nullptr);
    struct tm t {};
    ::localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
  }

  std::string Join(const std::string& folder, const std::string& name) override {
    return folder + "/" + name;
  }
};

}  // namespace

StateFiles& NativeStateFiles() {
  static PosixStateFiles files;
  return files;
}

}  // namespace vesk
