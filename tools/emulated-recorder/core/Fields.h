#pragma once
// Big-endian fields of command blocks, parameter lists and replies. Readers
// of host-supplied bytes return 0 past the end, so a short CDB or parameter
// list never reads out of bounds; the reply builder drops bytes past its
// capacity, which is how a drive truncates to the allocation length.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace velmor::emu {

[[nodiscard]] inline std::uint8_t Byte(std::span<const std::uint8_t> Bytes, std::size_t At) {
  return At < Bytes.size() ? Bytes[At] : 0;
}
[[nodiscard]] inline std::uint16_t Be16(std::span<const std::uint8_t> Bytes, std::size_t At) {
  return static_cast<std::uint16_t>(Byte(Bytes, At) << 8 | Byte(Bytes, At + 1));
}
[[nodiscard]] inline std::uint32_t Be24(std::span<const std::uint8_t> Bytes, std::size_t At) {
  return std::uint32_t{Byte(Bytes, At)} << 16 | std::uint32_t{Byte(Bytes, At + 1)} << 8 |
         Byte(Bytes, At + 2);
}
[[nodiscard]] inline std::uint32_t Be32(std::span<const std::uint8_t> Bytes, std::size_t At) {
  return std::uint32_t{Byte(Bytes, At)} << 24 | Be24(Bytes, At + 1);
}

// A reply under construction: a zero-filled byte vector that grows as fields
// are put, later cut to the allocation length by the caller.
class TReply {
 public:
  explicit TReply(std::size_t Size = 0) : Bytes(Size, 0) {}

  TReply& Put8(std::size_t At, std::uint8_t Value) {
    Grow(At + 1);
    Bytes[At] = Value;
    return *this;
  }
  TReply& Or8(std::size_t At, std::uint8_t Bits) {
    Grow(At + 1);
    Bytes[At] |= Bits;
    return *this;
  }
  TReply& Put16(std::size_t At, std::uint16_t Value) {
    Put8(At, static_cast<std::uint8_t>(Value >> 8));
    return Put8(At + 1, static_cast<std::uint8_t>(Value));
  }
  TReply& Put24(std::size_t At, std::uint32_t Value) {
    Put8(At, static_cast<std::uint8_t>(Value >> 16));
    return Put16(At + 1, static_cast<std::uint16_t>(Value));
  }
  TReply& Put32(std::size_t At, std::uint32_t Value) {
    Put16(At, static_cast<std::uint16_t>(Value >> 16));
    return Put16(At + 2, static_cast<std::uint16_t>(Value));
  }
  // Text padded with blanks to Width, as identification fields are.
  TReply& PutText(std::size_t At, std::string_view Text, std::size_t Width) {
    for (std::size_t i = 0; i < Width; ++i)
      Put8(At + i, static_cast<std::uint8_t>(i < Text.size() ? Text[i] : ' '));
    return *this;
  }
  TReply& Append(std::span<const std::uint8_t> More) {
    Bytes.insert(Bytes.end(), More.begin(), More.end());
    return *this;
  }

  [[nodiscard]] std::size_t Size() const { return Bytes.size(); }
  [[nodiscard]] std::span<const std::uint8_t> View() const { return Bytes; }
  void Grow(std::size_t Size) {
    if (Bytes.size() < Size) Bytes.resize(Size, 0);
  }

 private:
  std::vector<std::uint8_t> Bytes;
};

// An address as minute/second/frame, counted from the start of the lead-in
// area's pre-gap, as CD addresses are given.
struct TMsf {
  std::uint8_t Minute;
  std::uint8_t Second;
  std::uint8_t Frame;
};
[[nodiscard]] inline TMsf LbaToMsf(std::int64_t Lba) {
  const std::int64_t frames = std::max<std::int64_t>(Lba + 150, 0);
  return {static_cast<std::uint8_t>(std::min<std::int64_t>(frames / (60 * 75), 255)),
          static_cast<std::uint8_t>(frames / 75 % 60), static_cast<std::uint8_t>(frames % 75)};
}

}  // namespace velmor::emu
