#pragma once
// The one way bytes of an on-disc structure are written: a cursor over a
// fixed span that writes each field in the byte order its format demands.
// A write that would pass the end of the span writes nothing and marks the
// writer failed, so a sizing mistake shows up as a refused header instead of
// memory corruption.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kilnor {

class TByteWriter {
 public:
  explicit TByteWriter(std::span<std::uint8_t> out) : out_(out) {}

  [[nodiscard]] std::size_t position() const { return position_; }
  [[nodiscard]] std::size_t size() const { return out_.size(); }
  [[nodiscard]] bool ok() const { return ok_; }

  // Moves the cursor to an offset inside the span (fields at fixed offsets).
  void seek(std::size_t offset) {
    if (offset > out_.size()) {
      ok_ = false;
      return;
    }
    position_ = offset;
  }

  // A writer over the next `count` bytes; the cursor moves past them.
  [[nodiscard]] TByteWriter take(std::size_t count) {
    if (!fits(count)) return TByteWriter({});
    TByteWriter part(out_.subspan(position_, count));
    position_ += count;
    return part;
  }

  void put_u8(std::uint8_t value) {
    if (fits(1)) out_[position_++] = value;
  }
  void put_le16(std::uint16_t value) {
    put_u8(static_cast<std::uint8_t>(value));
    put_u8(static_cast<std::uint8_t>(value >> 8));
  }
  void put_be16(std::uint16_t value) {
    put_u8(static_cast<std::uint8_t>(value >> 8));
    put_u8(static_cast<std::uint8_t>(value));
  }
  void put_both16(std::uint16_t value) {
    put_le16(value);
    put_be16(value);
  }
  void put_le32(std::uint32_t value) {
    put_le16(static_cast<std::uint16_t>(value));
    put_le16(static_cast<std::uint16_t>(value >> 16));
  }
  void put_be32(std::uint32_t value) {
    put_be16(static_cast<std::uint16_t>(value >> 16));
    put_be16(static_cast<std::uint16_t>(value));
  }
  void put_both32(std::uint32_t value) {
    put_le32(value);
    put_be32(value);
  }

  void put_bytes(std::span<const std::uint8_t> bytes) {
    if (!fits(bytes.size())) return;
    std::copy(bytes.begin(), bytes.end(), out_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ += bytes.size();
  }
  void put_text(std::string_view text) {
    put_bytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  }
  void put_fill(std::size_t count, std::uint8_t value) {
    if (!fits(count)) return;
    std::fill_n(out_.begin() + static_cast<std::ptrdiff_t>(position_), count, value);
    position_ += count;
  }
  void put_zeros(std::size_t count) { put_fill(count, 0); }

  // An a- or d-character field: the text, cut to the field, padded with spaces.
  void put_padded(std::string_view text, std::size_t width) {
    const std::size_t used = std::min(text.size(), width);
    put_text(text.substr(0, used));
    put_fill(width - used, ' ');
  }
  // UCS-2 big-endian text, as Joliet records it.
  void put_ucs2(std::u16string_view text) {
    for (char16_t unit : text) put_be16(unit);
  }
  // A Joliet character field of `widthBytes`: the text cut to whole
  // characters, padded with UCS-2 spaces and, for an odd width, one zero.
  void put_ucs2_padded(std::u16string_view text, std::size_t widthBytes) {
    const std::size_t units = std::min(text.size(), widthBytes / 2);
    put_ucs2(text.substr(0, units));
    for (std::size_t i = units; i < widthBytes / 2; ++i) put_be16(u' ');
    put_zeros(widthBytes % 2);
  }

 private:
  [[nodiscard]] bool fits(std::size_t count) {
    if (ok_ && count <= out_.size() - position_) return true;
    ok_ = false;
    return false;
  }

  std::span<std::uint8_t> out_;
  std::size_t position_ = 0;
  bool ok_ = true;
};

}  // namespace kilnor
