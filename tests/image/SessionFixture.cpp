#include "image/SessionFixture.h"

#include <algorithm>
#include <cstring>

namespace kilnor::test {
namespace {

void PutLe32(TSectorBytes& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutBe32(TSectorBytes& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + 3 - i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutBoth32(TSectorBytes& s, std::size_t at, std::uint32_t v) {
  PutLe32(s, at, v);
  PutBe32(s, at + 4, v);
}

}  // namespace

bool TMemorySectors::ReadSectors(std::uint32_t LBA, std::uint32_t Count, std::span<std::uint8_t> Out) {
  if (std::uint64_t{LBA} + Count > limit_) return false;
  for (std::uint32_t i = 0; i < Count; ++i) {
    if (Unreadable.contains(LBA + i)) return false;
    const auto found = sectors_.find(LBA + i);
    std::uint8_t* to = Out.data() + std::size_t{i} * kSessionSectorBytes;
    if (found == sectors_.end()) {
      std::memset(to, 0, kSessionSectorBytes);
    } else {
      std::memcpy(to, found->second.data(), kSessionSectorBytes);
    }
  }
  return true;
}

std::vector<std::uint8_t> Ucs2(std::u16string_view name) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : name) {
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    bytes.push_back(static_cast<std::uint8_t>(unit));
  }
  return bytes;
}

std::vector<std::uint8_t> Bytes(std::string_view name) { return {name.begin(), name.end()}; }

std::size_t PutRecord(TSectorBytes& sector, std::size_t offset, const TRecordSpec& record) {
  const std::size_t idLength = record.Identifier.size();
  const std::size_t systemUse = 33 + idLength + (idLength % 2 == 0 ? 1 : 0);
  const std::size_t length = systemUse + record.SystemUse.size() + record.SystemUse.size() % 2;
  sector[offset] = static_cast<std::uint8_t>(length);
  PutBoth32(sector, offset + 2, record.Extent);
  PutBoth32(sector, offset + 10, record.Length);
  std::copy(record.Date.begin(), record.Date.end(), sector.begin() + offset + 18);
  sector[offset + 25] = record.Flags;
  sector[offset + 28] = 1;
  sector[offset + 31] = 1;
  sector[offset + 32] = static_cast<std::uint8_t>(idLength);
  std::copy(record.Identifier.begin(), record.Identifier.end(), sector.begin() + offset + 33);
  std::copy(record.SystemUse.begin(), record.SystemUse.end(), sector.begin() + offset + systemUse);
  return offset + length;
}

std::size_t PutSelfAndParent(TSectorBytes& sector, std::uint32_t extent, std::uint32_t length) {
  std::size_t offset = PutRecord(sector, 0, {{0}, extent, length, 0x02});
  return PutRecord(sector, offset, {{1}, extent, length, 0x02});
}

void PutDescriptor(TSectorBytes& sector, TDescriptorKind kind, std::uint32_t rootExtent,
                   std::uint32_t rootLength, std::uint32_t volumeSectors,
                   const std::vector<std::uint8_t>& label) {
  sector.fill(0);
  sector[0] = kind == TDescriptorKind::Primary ? 1 : 2;
  std::memcpy(&sector[1], "CD001", 5);
  sector[6] = kind == TDescriptorKind::Enhanced ? 2 : 1;
  std::fill(sector.begin() + 40, sector.begin() + 72, kind == TDescriptorKind::Joliet ? 0 : ' ');
  if (kind == TDescriptorKind::Joliet) {
    for (std::size_t i = 40; i < 72; i += 2) sector[i + 1] = ' ';
  }
  std::copy_n(label.begin(), std::min<std::size_t>(label.size(), 32), sector.begin() + 40);
  PutBoth32(sector, 80, volumeSectors);
  if (kind == TDescriptorKind::Joliet) {
    sector[88] = 0x25;
    sector[89] = 0x2F;
    sector[90] = 0x45;
  }
  sector[128] = 0x00;
  sector[129] = 0x08;
  sector[130] = 0x08;
  PutRecord(sector, 156, {{0}, rootExtent, rootLength, 0x02});
}

void PutTerminator(TSectorBytes& sector) {
  sector.fill(0);
  sector[0] = 255;
  std::memcpy(&sector[1], "CD001", 5);
  sector[6] = 1;
}

}  // namespace kilnor::test
