// A mutex shared by every running instance, by name: an exclusive flock on
// a file named after it. The kernel drops the lock when its holder dies,
// so a crashed instance never leaves it held. The files live where only
// their user can create files (XDG_RUNTIME_DIR, else a private folder of
// ours), so another user can neither hold the lock nor plant its file; with
// no such folder the program goes on without locks, as when one cannot be
// created.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "platform/types.h"

namespace vesk::posix {

class NamedMutexTable {
 public:
  // privateBase holds the private folder ("vesk-" and the user id) used
  // when XDG_RUNTIME_DIR is unset or not private.
  explicit NamedMutexTable(std::string privateBase = "/tmp");
  ~NamedMutexTable();
  NamedMutexTable(const NamedMutexTable&) = delete;
  NamedMutexTable& operator=(const NamedMutexTable&) = delete;

  MutexHandle Create(const std::string& name);  // 0 on failure
  // WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED; ownership is recursive, as
  // for a Windows mutex held by one thread.
  std::uint32_t Wait(MutexHandle handle, std::uint32_t milliseconds);
  bool Release(MutexHandle handle);
  void Close(MutexHandle handle);

  // Where the lock file of a name lives, or "" when no folder is safe.
  std::string LockPath(const std::string& name);

  // The folder for lock files, or "" with the reason in *why: folders that
  // are links, not ours, or open to others are never used.
  static std::string LockFolder(const std::string& privateBase, std::string* why);

 private:
  struct Entry {
    std::string name;
    int fd = -1;
    int owned = 0;
    int handles = 0;
  };
  Entry* Find(MutexHandle handle);

  std::string privateBase_;
  bool folderChosen_ = false;
  std::string folder_;
  std::map<MutexHandle, std::string> handles_;
  std::map<std::string, Entry> entries_;
  MutexHandle next_ = 1;
};

}  // namespace vesk::posix
