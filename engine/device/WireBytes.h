#pragma once
// Big-endian fields of CDBs, parameter lists and replies. Callers check that
// the bytes they touch lie inside the data; the asserts catch a caller that
// did not.
#include <cassert>
#include <cstdint>
#include <span>

namespace kilnor::wire {

[[nodiscard]] inline std::uint16_t GetBE16(std::span<const std::uint8_t> Bytes, std::size_t At) {
  assert(At + 2 <= Bytes.size());
  return static_cast<std::uint16_t>(Bytes[At] << 8 | Bytes[At + 1]);
}

[[nodiscard]] inline std::uint32_t GetBE24(std::span<const std::uint8_t> Bytes, std::size_t At) {
  assert(At + 3 <= Bytes.size());
  return std::uint32_t{Bytes[At]} << 16 | std::uint32_t{Bytes[At + 1]} << 8 | Bytes[At + 2];
}

[[nodiscard]] inline std::uint32_t GetBE32(std::span<const std::uint8_t> Bytes, std::size_t At) {
  assert(At + 4 <= Bytes.size());
  return std::uint32_t{Bytes[At]} << 24 | GetBE24(Bytes, At + 1);
}

[[nodiscard]] inline std::uint32_t GetLE32(std::span<const std::uint8_t> Bytes, std::size_t At) {
  assert(At + 4 <= Bytes.size());
  return std::uint32_t{Bytes[At + 3]} << 24 | std::uint32_t{Bytes[At + 2]} << 16 |
         std::uint32_t{Bytes[At + 1]} << 8 | Bytes[At];
}

inline void PutBE16(std::span<std::uint8_t> Bytes, std::size_t At, std::uint16_t Value) {
  assert(At + 2 <= Bytes.size());
  Bytes[At] = static_cast<std::uint8_t>(Value >> 8);
  Bytes[At + 1] = static_cast<std::uint8_t>(Value);
}

inline void PutBE32(std::span<std::uint8_t> Bytes, std::size_t At, std::uint32_t Value) {
  assert(At + 4 <= Bytes.size());
  PutBE16(Bytes, At, static_cast<std::uint16_t>(Value >> 16));
  PutBE16(Bytes, At + 2, static_cast<std::uint16_t>(Value));
}

}  // namespace kilnor::wire
