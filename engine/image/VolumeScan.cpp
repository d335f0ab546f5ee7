#include "engine/image/VolumeScan.h"

#include <array>
#include <span>

#include "engine/image/DirectoryRecords.h"

namespace kilnor {
namespace {

constexpr std::uint8_t kPrimaryType = 1;
constexpr std::uint8_t kSupplementaryType = 2;
constexpr std::uint8_t kTerminatorType = 255;
constexpr std::size_t kLabelOffset = 40;
constexpr std::size_t kLabelBytes = 32;
constexpr std::size_t kVolumeSpaceOffset = 80;
constexpr std::size_t kEscapeOffset = 88;
constexpr std::size_t kBlockSizeOffset = 128;
constexpr std::size_t kRootRecordOffset = 156;
constexpr std::size_t kRootRecordBytes = 34;

bool IsJolietEscape(std::span<const std::uint8_t> sector) {
  return sector[kEscapeOffset] == 0x25 && sector[kEscapeOffset + 1] == 0x2F &&
         (sector[kEscapeOffset + 2] == 0x40 || sector[kEscapeOffset + 2] == 0x43 ||
          sector[kEscapeOffset + 2] == 0x45);
}

bool CarriesStandardIdentifier(std::span<const std::uint8_t> sector) {
  static constexpr std::array<std::uint8_t, 5> kId{'C', 'D', '0', '0', '1'};
  return std::equal(kId.begin(), kId.end(), sector.begin() + 1);
}

std::u16string LabelOf(std::span<const std::uint8_t> sector, TNameEncoding names) {
  std::u16string label = DecodeText(sector.subspan(kLabelOffset, kLabelBytes), names);
  while (!label.empty() && (label.back() == u' ' || label.back() == u'\0')) label.pop_back();
  return label.substr(0, label.find(u'\0'));
}

// The volume a primary or supplementary descriptor describes, when its
// fields hold together.
std::optional<TFoundVolume> VolumeOf(std::span<const std::uint8_t> sector, std::uint32_t lba,
                                     std::string& why) {
  const std::uint16_t blockSize =
      static_cast<std::uint16_t>(sector[kBlockSizeOffset] | sector[kBlockSizeOffset + 1] << 8);
  if (blockSize != kSessionSectorBytes) {
    why = "the volume descriptor at sector " + std::to_string(lba) + " has " +
          std::to_string(blockSize) + "-byte blocks";
    return std::nullopt;
  }
  TDirectoryRecord root;
  if (ReadDirectoryRecord(sector.subspan(kRootRecordOffset, kRootRecordBytes), 0, root, why) !=
      TRecordRead::Record) {
    why = "the root record of the volume descriptor at sector " + std::to_string(lba) +
          " is malformed";
    return std::nullopt;
  }
  TFoundVolume volume;
  volume.DescriptorSector = lba;
  volume.VolumeSpaceSize = LittleEndian32(sector, kVolumeSpaceOffset);
  volume.RootExtent = root.Extent;
  volume.RootLength = root.DataLength;
  if (sector[0] == kSupplementaryType && IsJolietEscape(sector)) {
    volume.Kind = TVolumeKind::Joliet;
    volume.Names = TNameEncoding::Ucs2BigEndian;
  } else {
    volume.Kind = sector[0] == kPrimaryType ? TVolumeKind::Primary : TVolumeKind::Enhanced;
  }
  if (!ExtentInside(volume.RootExtent, volume.RootLength, volume.VolumeSpaceSize) ||
      volume.RootLength == 0) {
    why = "the root directory of the volume descriptor at sector " + std::to_string(lba) +
          " lies outside its volume of " + std::to_string(volume.VolumeSpaceSize) + " sectors";
    return std::nullopt;
  }
  volume.Label = LabelOf(sector, volume.Names);
  return volume;
}

}  // namespace

TFoundVolumes FindVolumes(TSectorSource& Source, std::uint32_t First, std::uint32_t Count,
                          std::string& Reason) {
  std::array<std::uint8_t, kSessionSectorBytes> sector{};
  TFoundVolumes found;
  std::optional<TFoundVolume>& best = found.Preferred;
  std::string why;
  for (std::uint32_t lba = First; lba < First + Count; ++lba) {
    sector.fill(0xFF);
    if (!Source.ReadSectors(lba, 1, sector) || !CarriesStandardIdentifier(sector)) continue;
    if (sector[0] == kTerminatorType && best) break;
    if (sector[0] != kPrimaryType && sector[0] != kSupplementaryType) continue;
    std::optional<TFoundVolume> volume = VolumeOf(sector, lba, why);
    if (volume && volume->Kind == TVolumeKind::Primary && !found.Primary) found.Primary = volume;
    if (volume && (!best || volume->Kind < best->Kind)) best = std::move(volume);
    if (best && best->Kind == TVolumeKind::Joliet && found.Primary) break;
  }
  if (!best) {
    Reason = why.empty() ? "no ISO 9660 volume descriptor in sectors " + std::to_string(First) +
                               " to " + std::to_string(First + Count - 1)
                         : why;
  }
  return found;
}

std::optional<TFoundVolume> FindVolume(TSectorSource& Source, std::uint32_t First,
                                       std::uint32_t Count, std::string& Reason) {
  return FindVolumes(Source, First, Count, Reason).Preferred;
}

}  // namespace kilnor
