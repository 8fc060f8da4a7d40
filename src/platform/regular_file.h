// Files the program reads or rewrites in place: only ordinary files, never
// a folder, device, pipe or socket (reading /dev/zero would never end, and
// opening a pipe would wait for a writer forever). Opening never blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk {

class RegularFile {
 public:
  enum class Mode {
    Read,   // the file must exist
    Update  // read and write, created when missing, never truncated
  };

  RegularFile() = default;
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  // False when path does not name an ordinary file that can be opened so
  // (links are followed); nothing stays open then.
  bool Open(const std::string& path, Mode mode);
  bool IsOpen() const { return handle_ != kNone; }

  // The file's size when it was opened.
  std::uint64_t Size() const { return size_; }
  // Up to n bytes from the current position; 0 at the end or on an error.
  std::size_t Read(char* buffer, std::size_t n);
  // Every byte at the current position, or false.
  bool Write(std::string_view bytes);
  // False when an earlier write may not have reached the file.
  bool Close();

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
  std::uint64_t size_ = 0;
};

}  // namespace vesk
