#pragma once
// The fuzzer's input read front to back, so that seed inputs can be written
// down field by field. Past the end every read gives zeros and no bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kilnor::fuzz {

class TInputBytes {
 public:
  explicit TInputBytes(std::span<const std::uint8_t> Bytes) : bytes_(Bytes) {}

  [[nodiscard]] bool Empty() const { return next_ >= bytes_.size(); }
  [[nodiscard]] std::uint8_t U8() { return Empty() ? 0 : bytes_[next_++]; }
  [[nodiscard]] std::uint16_t Be16() {
    const std::uint8_t high = U8();
    return static_cast<std::uint16_t>(high << 8 | U8());
  }
  // Up to Count bytes, fewer at the end of the input.
  [[nodiscard]] std::span<const std::uint8_t> Bytes(std::size_t Count) {
    const std::size_t taken = std::min(Count, bytes_.size() - std::min(next_, bytes_.size()));
    const auto part = bytes_.subspan(std::min(next_, bytes_.size()), taken);
    next_ += taken;
    return part;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t next_ = 0;
};

}  // namespace kilnor::fuzz
