// Opening files on POSIX for reading or rewriting: ordinary files only.
#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vesk {

RegularFile::~RegularFile() { Close(); }

bool RegularFile::Open(const std::string& path, Mode mode) {
  Close();
  if (path.empty()) return false;
  // Looking first keeps devices from being opened at all; the check on the
  // opened descriptor below is the one that counts (the name may change).
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
  // O_NONBLOCK: a pipe put there after the look must not stop the open.
  const int flags =
      (mode == Mode::Read ? O_RDONLY : O_RDWR | O_CREAT) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return false;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  handle_ = fd;
  size_ = static_cast<std::uint64_t>(st.st_size);
  return true;
}

std::size_t RegularFile::Read(char* buffer, std::size_t n) {
  if (handle_ == kNone) return 0;
  while (true) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, n);
    if (got < 0 && errno == EINTR) continue;
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }
}

bool RegularFile::Write(std::string_view bytes) {
  if (handle_ == kNone) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool RegularFile::Close() {
  if (handle_ == kNone) return true;
  const bool ok = ::close(static_cast<int>(handle_)) == 0;
  handle_ = kNone;
  return ok;
}

}  // namespace vesk
