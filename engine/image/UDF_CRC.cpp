#include "engine/image/UDF_CRC.h"

#include <array>

namespace kilnor {
namespace {

constexpr std::uint16_t kPolynomial = 0x1021;
constexpr std::size_t kSlices = 8;

using TCrcTables = std::array<std::array<std::uint16_t, 256>, kSlices>;

// Table k holds the CRC of one byte followed by k zero bytes, so eight bytes
// fold into the CRC with eight independent look-ups instead of a chain of
// eight dependent ones: file entries are whole blocks and there may be
// hundreds of thousands of them.
constexpr TCrcTables MakeTables() {
  TCrcTables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint16_t crc = static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ kPolynomial : crc << 1);
    }
    tables[0][byte] = crc;
  }
  for (std::size_t k = 1; k < kSlices; ++k) {
    for (std::size_t byte = 0; byte < 256; ++byte) {
      const std::uint16_t previous = tables[k - 1][byte];
      tables[k][byte] = static_cast<std::uint16_t>((previous << 8) ^ tables[0][previous >> 8]);
    }
  }
  return tables;
}

constexpr TCrcTables kTables = MakeTables();

}  // namespace

std::uint16_t CrcItuT(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left >= kSlices) {
    crc = static_cast<std::uint16_t>(
        kTables[7][p[0] ^ (crc >> 8)] ^ kTables[6][p[1] ^ (crc & 0xFF)] ^ kTables[5][p[2]] ^
        kTables[4][p[3]] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^
        kTables[0][p[7]]);
    p += kSlices;
    left -= kSlices;
  }
  for (; left > 0; --left, ++p) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kTables[0][(crc >> 8) ^ *p]);
  }
  return crc;
}

}  // namespace kilnor
