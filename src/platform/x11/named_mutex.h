// A mutex shared by every running instance, by name: an exclusive flock on
// a file named after it. The kernel drops the lock when its holder dies,
// so a crashed instance never leaves it held.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/types.h"

namespace vesk::x11 {

class NamedMutexTable {
 public:
  NamedMutexTable() = default;
  ~NamedMutexTable();
  NamedMutexTable(const NamedMutexTable&) = delete;
  NamedMutexTable& operator=(const NamedMutexTable&) = delete;

  MutexHandle Create(const std::string& name);  // 0 on failure
  // WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED; ownership is recursive, as
  // for a Windows mutex held by one thread.
  std::uint32_t Wait(MutexHandle handle, std::uint32_t milliseconds);
  bool Release(MutexHandle handle);
  void Close(MutexHandle handle);

  // Where the lock file of a name lives.
  static std::string LockPath(const std::string& name);

 private:
  struct Entry {
    std::string name;
    int fd = -1;
    int owned = 0;
    int handles = 0;
  };
  Entry* Find(MutexHandle handle);

  std::map<MutexHandle, std::string> handles_;
  std::map<std::string, Entry> entries_;
  MutexHandle next_ = 1;
};

}  // namespace vesk::x11
