#include "HeaderReader.h"

namespace kilnor::test {

std::uint8_t THeaderReader::U8(std::uint32_t sector, std::size_t offset) const {
  return bytes_.at(std::size_t{sector} * 2048 + offset);
}
std::uint16_t THeaderReader::Le16(std::uint32_t sector, std::size_t offset) const {
  return static_cast<std::uint16_t>(U8(sector, offset) | U8(sector, offset + 1) << 8);
}
std::uint32_t THeaderReader::Le32(std::uint32_t sector, std::size_t offset) const {
  return Le16(sector, offset) | static_cast<std::uint32_t>(Le16(sector, offset + 2)) << 16;
}
std::uint32_t THeaderReader::Be32(std::uint32_t sector, std::size_t offset) const {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | U8(sector, offset + i);
  return value;
}
std::string THeaderReader::Text(std::uint32_t sector, std::size_t offset, std::size_t length) const {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text += static_cast<char>(U8(sector, offset + i));
  return text;
}

std::vector<TRecordView> THeaderReader::Records(std::uint32_t sector, std::uint32_t bytes) const {
  std::vector<TRecordView> records;
  std::uint32_t offset = 68;  // after "." and ".."
  while (offset < bytes) {
    const std::uint8_t length = U8(sector, offset);
    if (length == 0) {
      offset = (offset / 2048 + 1) * 2048;
      continue;
    }
    TRecordView r;
    r.Offset = offset;
    r.Extent = Le32(sector, offset + 2);
    r.DataLength = Le32(sector, offset + 10);
    for (int i = 0; i < 7; ++i) r.Date[i] = U8(sector, offset + 18 + i);
    r.Flags = U8(sector, offset + 25);
    r.Identifier = Text(sector, offset + 33, U8(sector, offset + 32));
    records.push_back(r);
    offset += length;
  }
  return records;
}

std::string Ucs2(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c >> 8);
    bytes += static_cast<char>(c & 0xFF);
  }
  return bytes;
}

}  // namespace kilnor::test
