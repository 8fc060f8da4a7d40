#include "platform/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace vesk {

WriteOutcome WriteFileReplacing(const std::string& path, std::string_view bytes, bool ownerOnly) {
  if (path.empty()) return WriteOutcome::OpenFailed;
  // A directory of that name cannot be replaced by a file.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return WriteOutcome::OpenFailed;

  const std::string temp = path + ".vesk-tmp";
  const mode_t mode = ownerOnly ? 0600 : 0666;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return WriteOutcome::OpenFailed;
  if (ownerOnly) ::fchmod(fd, 0600);  // a stale temporary file may have had other rights

  bool ok = true;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0 && errno != EINVAL) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return WriteOutcome::WriteFailed;
  }
  return WriteOutcome::Written;
}

}  // namespace vesk
