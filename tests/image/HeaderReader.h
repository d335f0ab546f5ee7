#pragma once
// Reads back what GenerateHeader wrote, for the layout tests: fields at
// offsets of a sector, and the directory records of an extent.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/image/ISO9660.h"
#include "engine/image/TreeTypes.h"

namespace kilnor::test {

struct TRecordView {
  std::uint32_t Extent = 0;
  std::uint32_t DataLength = 0;
  std::uint8_t Flags = 0;
  std::uint8_t Date[7] = {};
  std::string Identifier;  // raw bytes (UCS-2 big-endian in the Joliet tree)
  std::uint32_t Offset = 0;  // where the record starts in the extent
};

class THeaderReader {
 public:
  explicit THeaderReader(const TCDFiles& cd) : bytes_(WholeHeader(cd)) {}
  [[nodiscard]] std::uint8_t U8(std::uint32_t sector, std::size_t offset) const;
  [[nodiscard]] std::uint32_t Le32(std::uint32_t sector, std::size_t offset) const;
  [[nodiscard]] std::uint32_t Be32(std::uint32_t sector, std::size_t offset) const;
  [[nodiscard]] std::uint16_t Le16(std::uint32_t sector, std::size_t offset) const;
  [[nodiscard]] std::string Text(std::uint32_t sector, std::size_t offset, std::size_t length) const;
  // Every record of the extent after "." and "..".
  [[nodiscard]] std::vector<TRecordView> Records(std::uint32_t sector, std::uint32_t bytes) const;

 private:
  const std::vector<std::uint8_t> bytes_;
};

// UCS-2 big-endian bytes of a text, as Joliet records carry names.
[[nodiscard]] std::string Ucs2(const std::u16string& text);

}  // namespace kilnor::test
