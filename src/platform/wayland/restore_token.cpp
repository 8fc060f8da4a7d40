// The desktop's restore token, kept owner-only beside the settings.
#include "platform/wayland/restore_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vesk::wayland {
namespace {

// Tokens are short identifiers; anything larger is not one of ours.
constexpr std::size_t kLongestToken = 1024;

bool Printable(const std::string& s) {
  for (const char c : s) {
    if (c < 0x21 || c > 0x7E) return false;
  }
  return !s.empty();
}

// 8-4-4-4-12 hexadecimal digits, as the portal makes them.
bool IsUuid(const std::string& s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (s[i] == '-')) return false;
    if (!dash && std::isxdigit(static_cast<unsigned char>(s[i])) == 0) return false;
  }
  return true;
}

}  // namespace

std::string RestoreTokenFile::Load() const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  std::string text(kLongestToken + 2, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(got);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (got > kLongestToken + 1 || !Printable(text) || !IsUuid(text)) {
    std::fprintf(stderr, "vesk: %s holds no remote-input permission; the desktop will ask again\n",
                 path_.c_str());
    Forget();
    return {};
  }
  return text;
}

bool RestoreTokenFile::Save(const std::string& token) const {
  if (!Printable(token) || token.size() > kLongestToken) return false;
  const std::string temp = path_ + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = fd >= 0;
  if (ok) {
    const std::string line = token + "\n";
    ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ok = ::close(fd) == 0 && ok;
  }
  ok = ok && ::rename(temp.c_str(), path_.c_str()) == 0;
  if (!ok) {
    std::fprintf(stderr, "vesk: cannot keep the remote-input permission in %s: %s\n", path_.c_str(),
                 std::strerror(errno));
    ::unlink(temp.c_str());
  }
  return ok;
}

void RestoreTokenFile::Forget() const { ::unlink(path_.c_str()); }

void RestoreTokenFile::MarkNoEis() const {
  const int fd = ::open(NoEisPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

bool RestoreTokenFile::NoEis() const { return ::access(NoEisPath().c_str(), F_OK) == 0; }

}  // namespace vesk::wayland
