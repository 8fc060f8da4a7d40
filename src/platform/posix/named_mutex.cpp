// The named lock on POSIX: an exclusive flock on a file in a private folder.
#include "platform/posix/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace vesk::posix {

namespace {
constexpr auto kPollStep = std::chrono::milliseconds(2);
}  // namespace

namespace {

// True when path is a real folder (not a link) owned by this user that
// nobody else may write or read.
bool IsPrivateFolder(const std::string& path, std::string* why) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    *why = path + " cannot be read";
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    *why = path + " is a link";
  } else if (!S_ISDIR(st.st_mode)) {
    *why = path + " is not a folder";
  } else if (st.st_uid != geteuid()) {
    *why = path + " belongs to another user";
  } else if ((st.st_mode & 077) != 0) {
    *why = path + " is open to other users";
  } else {
    return true;
  }
  return false;
}

std::atomic<bool> g_toldNoLock{false};

}  // namespace

NamedMutexTable::NamedMutexTable(std::string privateBase) : privateBase_(std::move(privateBase)) {}

std::string NamedMutexTable::LockFolder(const std::string& privateBase, std::string* why) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string ignored;
  if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime, &ignored)) return runtime;
  // A folder of our own in the shared one; made private before anyone else
  // can, and checked in case someone else made it first.
  const std::string folder = privateBase + "/vesk-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = folder + " cannot be created";
    return "";
  }
  return IsPrivateFolder(folder, why) ? folder : "";
}

std::string NamedMutexTable::LockPath(const std::string& name) {
  if (!folderChosen_) {
    std::string why;
    folder_ = LockFolder(privateBase_, &why);
    folderChosen_ = true;
    if (folder_.empty() && !g_toldNoLock.exchange(true)) {
      std::fprintf(stderr, "vesk: running without the shared lock: %s\n", why.c_str());
    }
  }
  if (folder_.empty()) return "";
  std::string safe;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    safe += plain ? c : '_';
  }
  return folder_ + "/vesk-" + safe + ".lock";
}

NamedMutexTable::~NamedMutexTable() {
  for (auto& [name, e] : entries_) {
    if (e.fd >= 0) close(e.fd);
  }
}

NamedMutexTable::Entry* NamedMutexTable::Find(MutexHandle handle) {
  auto h = handles_.find(handle);
  if (h == handles_.end()) return nullptr;
  auto e = entries_.find(h->second);
  return e == entries_.end() ? nullptr : &e->second;
}

MutexHandle NamedMutexTable::Create(const std::string& name) {
  auto it = entries_.find(name);
  if (it == entries_.end()) {
    const std::string path = LockPath(name);
    if (path.empty()) return 0;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      std::fprintf(stderr, "vesk: cannot open the lock file %s\n", path.c_str());
      return 0;
    }
    it = entries_.emplace(name, Entry{name, fd, 0, 0}).first;
  }
  ++it->second.handles;
  const MutexHandle handle = next_++;
  handles_[handle] = name;
  return handle;
}

std::uint32_t NamedMutexTable::Wait(MutexHandle handle, std::uint32_t milliseconds) {
  Entry* e = Find(handle);
  if (e == nullptr) return WAIT_FAILED;
  if (e->owned > 0) {
    ++e->owned;
    return WAIT_OBJECT_0;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (true) {
    if (flock(e->fd, LOCK_EX | LOCK_NB) == 0) {
      e->owned = 1;
      return WAIT_OBJECT_0;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return WAIT_FAILED;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kPollStep, deadline - now));
  }
}

bool NamedMutexTable::Release(MutexHandle handle) {
  Entry* e = Find(handle);
  if (e == nullptr || e->owned == 0) return false;
  if (--e->owned == 0) flock(e->fd, LOCK_UN);
  return true;
}

void NamedMutexTable::Close(MutexHandle handle) {
  auto h = handles_.find(handle);
  if (h == handles_.end()) return;
  auto e = entries_.find(h->second);
  handles_.erase(h);
  if (e != entries_.end() && --e->second.handles == 0) {
    close(e->second.fd);  // also drops a lock still held, as closing the last handle does
    entries_.erase(e);
  }
}

}  // namespace vesk::posix
