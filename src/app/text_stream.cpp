// The fixed buffer and the stream that compose log lines.
#include "app/text_stream.h"

#include <charconv>
#include <cstring>

namespace vesk {

namespace {
constexpr std::string_view kEllipsis = "...";
constexpr std::size_t kMaxChars = TextStream::kCapacity - 1;
}  // namespace

void TextStream::Rewind() {
  pos_ = 0;
  truncated_ = false;
  buffer_[0] = '\0';
}

TextStream& TextStream::operator<<(std::string_view text) {
  if (truncated_) return *this;
  if (text.size() <= kMaxChars - pos_) {
    std::memcpy(buffer_.data() + pos_, text.data(), text.size());
    pos_ += text.size();
    return *this;
  }
  // Does not fit: keep what fits and end the line with an ellipsis.
  const std::size_t keep = kMaxChars - kEllipsis.size();
  if (pos_ < keep) {
    std::memcpy(buffer_.data() + pos_, text.data(), keep - pos_);
  }
  std::memcpy(buffer_.data() + keep, kEllipsis.data(), kEllipsis.size());
  pos_ = kMaxChars;
  truncated_ = true;
  return *this;
}

TextStream& TextStream::operator<<(std::int32_t value) { return *this << std::int64_t{value}; }
TextStream& TextStream::operator<<(std::uint32_t value) { return *this << std::int64_t{value}; }

TextStream& TextStream::operator<<(std::int64_t value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;
  return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
}

void TextStream::Terminate() { buffer_[pos_] = '\0'; }

std::string_view TextStream::End() {
  Terminate();
  return {buffer_.data(), pos_};
}

}  // namespace vesk
