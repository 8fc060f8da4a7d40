// Files in the user's state folder that outlive the program: the recovery
// journal a recording appends to, and the look for orphaned ones at start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// A file held open and locked: while it lives, no other program can lock
// it, which is how a later start tells a live recording from an orphan.
// Destroying it closes the file and releases the lock; the file stays.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // Every byte at the end of the file, or false (a full disk, a size limit).
  virtual bool Append(std::string_view bytes) = 0;
  // What was appended is on the disk.
  virtual bool Sync() = 0;
  // The file's size now.
  virtual std::uint64_t Size() = 0;
  // Exactly n bytes from offset, or false.
  virtual bool ReadAt(std::uint64_t offset, char* buffer, std::size_t n) = 0;
  // Cuts the file to size bytes (drops a torn last record).
  virtual bool Truncate(std::uint64_t size) = 0;
};

class StateFiles {
 public:
  virtual ~StateFiles() = default;
  // The program's state folder, created owner-only when missing; empty,
  // with the reason in *why, when there is none.
  virtual std::string StateFolder(std::string* why) = 0;
  // Creates path exclusively (never through a link, never a name that is
  // there already), owner-only, and locks it. Null when it cannot;
  // *exists tells that the name was taken.
  virtual std::unique_ptr<HeldFile> CreateLocked(const std::string& path, bool* exists) = 0;
  // Opens an existing ordinary file and locks it; null when another
  // program holds it or it cannot be opened.
  virtual std::unique_ptr<HeldFile> LockExisting(const std::string& path) = 0;
  // Names of the entries of a folder (none when it cannot be read).
  virtual std::vector<std::string> List(const std::string& folder) = 0;
  virtual bool Remove(const std::string& path) = 0;
  // Renames, never over a file that is there.
  virtual bool RenameNew(const std::string& from, const std::string& to) = 0;
  virtual std::uint32_t ProcessId() = 0;
  virtual LocalTime Now() = 0;
  // Joins a folder and a name with the system's separator.
  virtual std::string Join(const std::string& folder, const std::string& name) = 0;
};

// The operating system's own files (POSIX or Windows).
StateFiles& NativeStateFiles();

}  // namespace vesk
