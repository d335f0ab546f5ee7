#include "engine/image/ElTorito.h"

#include <filesystem>
#include <fstream>

namespace kilnor {
namespace {

constexpr TBootMedia kBootMedia[] = {
    {2048, bmNoEmulation, 4},
    {1228800, bmFloppy12, 1},
    {1474560, bmFloppy144, 1},
    {2949120, bmFloppy288, 1},
};

constexpr std::size_t kBootSystemId = 7;
constexpr std::size_t kCatalogPointer = 71;
constexpr std::size_t kValidationEntryBytes = 32;
constexpr std::size_t kIdString = 4;
constexpr std::size_t kChecksum = 28;
// Validation entry, then the default entry: 32 bytes each.
static_assert(kValidationEntryBytes == 32 && kChecksum + 4 == kValidationEntryBytes);

// The size of the file, or nothing when it cannot be opened for reading.
std::optional<std::int64_t> ReadableFileSize(const std::string& fileName) {
  const std::filesystem::path path(std::u8string(fileName.begin(), fileName.end()));
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return std::nullopt;
  const std::streamoff size = file.tellg();
  if (size < 0) return std::nullopt;
  return static_cast<std::int64_t>(size);
}

// The sixteen words of the validation entry, the checksum included, add up
// to zero.
std::uint16_t ValidationChecksum(std::span<const std::uint8_t> entry) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < kValidationEntryBytes; i += 2)
    sum = static_cast<std::uint16_t>(sum + (entry[i] | (entry[i + 1] << 8)));
  return static_cast<std::uint16_t>(-sum);
}

}  // namespace

std::optional<TBootMedia> BootMediaOfSize(std::int64_t imageBytes) {
  for (const TBootMedia& media : kBootMedia)
    if (media.ImageBytes == imageBytes) return media;
  return std::nullopt;
}

bool SetBootImageFile(TCDFiles& cd, const std::string& FileName) {
  // A running write streams the boot image named now.
  if (cd.WriteRunning) return false;
  cd.Prepared = false;
  cd.BootImage.clear();
  cd.BootImageSize = 0;
  if (FileName.empty()) return true;
  const std::optional<std::int64_t> size = ReadableFileSize(FileName);
  if (!size || !BootMediaOfSize(*size)) return false;
  cd.BootImage = FileName;
  cd.BootImageSize = static_cast<std::int32_t>(*size);
  return true;
}

void WriteBootRecord(TByteWriter& sector, const TCDFiles& cd) {
  sector.put_u8(0);
  sector.put_text("CD001");
  sector.put_u8(1);
  sector.seek(kBootSystemId);
  sector.put_text("EL TORITO SPECIFICATION");
  sector.seek(kCatalogPointer);
  sector.put_le32(cd.BootCatalogLocation + cd.FirstWritableSector);
}

void WriteBootCatalog(TByteWriter& sector, const TCDFiles& cd) {
  std::uint8_t validation[kValidationEntryBytes] = {};
  TByteWriter entry(validation);
  entry.put_u8(1);  // validation entry header
  entry.put_u8(0);  // 80x86
  entry.seek(kIdString);
  entry.put_text("Quelm CD/DVD Burner");
  entry.seek(kChecksum + 2);
  entry.put_u8(0x55);
  entry.put_u8(0xAA);
  const std::uint16_t checksum = ValidationChecksum(validation);
  entry.seek(kChecksum);
  entry.put_le16(checksum);
  sector.put_bytes(validation);

  const std::optional<TBootMedia> media = BootMediaOfSize(cd.BootImageSize);
  sector.put_u8(0x88);  // bootable
  sector.put_u8(media ? media->MediaType : bmNoEmulation);
  sector.put_le16(0);   // load segment: the default
  sector.put_u8(0);     // system type
  sector.put_u8(0);
  sector.put_le16(media ? media->SectorCount : 4);
  sector.put_le32(cd.BootImageLocation + cd.FirstWritableSector);
}

}  // namespace kilnor
