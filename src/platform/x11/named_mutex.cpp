#include "platform/x11/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace vesk::x11 {

namespace {
constexpr auto kPollStep = std::chrono::milliseconds(2);
}  // namespace

std::string NamedMutexTable::LockPath(const std::string& name) {
  std::string safe;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    safe += plain ? c : '_';
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0' && access(runtime, W_OK) == 0) {
    return std::string(runtime) + "/vesk-" + safe + ".lock";
  }
  // /tmp is shared by all users: the user id keeps their locks apart.
  return "/tmp/vesk-" + std::to_string(getuid()) + "-" + safe + ".lock";
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
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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

}  // namespace vesk::x11
