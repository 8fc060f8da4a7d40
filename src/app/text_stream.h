// A fixed 200-character buffer and the stream that composes log lines in
// it. The stream never grows and never fails: a line that would not fit is
// cut so that it ends with "..." and stays terminated.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vesk {

class TextStream {
 public:
  static constexpr std::size_t kCapacity = 200;  // including the terminator

  explicit TextStream(std::array<char, kCapacity>& buffer) : buffer_(buffer) { Rewind(); }

  // Moves the write position back to the start of the buffer.
  void Rewind();
  TextStream& operator<<(std::string_view text);
  TextStream& operator<<(const char* text) { return *this << std::string_view(text); }
  TextStream& operator<<(std::int32_t value);
  TextStream& operator<<(std::uint32_t value);
  TextStream& operator<<(std::int64_t value);
  // Writes the terminating NUL. The buffer then holds the composed line.
  void Terminate();
  // Writes the terminator and returns the buffer's text.
  std::string_view End();

  bool Truncated() const { return truncated_; }

 private:
  std::array<char, kCapacity>& buffer_;
  std::size_t pos_ = 0;
  bool truncated_ = false;
};

}  // namespace vesk
