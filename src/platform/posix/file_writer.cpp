// Whole-file writes on POSIX: a private temporary file renamed over the target.
#include "platform/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <utility>

namespace vesk {

namespace {

std::function<std::string()>& TestNames() {
  static std::function<std::string()> next;
  return next;
}

std::string RandomTempName() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device source;
  std::string name = ".vesk-";
  for (int i = 0; i < 6; ++i) name += kChars[source() % (sizeof kChars - 1)];
  return name;
}

std::string Folder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Whether the user may replace an existing target. Root passes every
// access check, so a file with no write permission for anyone counts as
// read-only whoever saves.
bool MayReplace(const struct stat& st, const std::string& path) {
  if (!S_ISREG(st.st_mode)) return false;  // a folder, device or pipe is never replaced
  if ((st.st_mode & 0222) == 0) return false;
  return ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

void SetTempNameSourceForTesting(std::function<std::string()> next) {
  TestNames() = std::move(next);
}

WriteOutcome WriteFileReplacing(const std::string& path, std::string_view bytes, bool ownerOnly,
                                const std::function<void()>& /*waiting: a rename is never held*/) {
  if (path.empty() || path.back() == '/') return WriteOutcome::OpenFailed;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!MayReplace(st, path)) return WriteOutcome::OpenFailed;
  } else if (errno != ENOENT) {
    return WriteOutcome::OpenFailed;  // a path too long, or through a file
  }

  const std::string folder = Folder(path) + "/";
  const mode_t mode = ownerOnly ? 0600 : 0666;
  std::string temp;
  int fd = -1;
  // A name taken by anyone (a file, a link, another save) is skipped.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + (TestNames() ? TestNames()() : RandomTempName());
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) return WriteOutcome::OpenFailed;
  }
  if (fd < 0) return WriteOutcome::OpenFailed;

  bool ok = WriteAll(fd, bytes);
  if (ok && ::fsync(fd) != 0 && errno != EINVAL) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return WriteOutcome::WriteFailed;
  }
  // The new name is durable only once the folder is.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return WriteOutcome::Written;
}

}  // namespace vesk
