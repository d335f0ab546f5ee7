#pragma once
// CRC-ITU-T (x^16 + x^12 + x^5 + 1, initial value 0, no reflection, no final
// inversion): the descriptor CRC every UDF descriptor tag carries.
#include <cstdint>
#include <span>

namespace kilnor {

// CRC of the bytes, continuing from a previous CRC (0 to start).
[[nodiscard]] std::uint16_t CrcItuT(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0);

}  // namespace kilnor
