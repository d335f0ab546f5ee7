#pragma once
// El Torito boot structures (Bootable CD-ROM Format 1.0): the boot record
// volume descriptor and the one-sector boot catalog with a validation entry
// for the 80x86 platform and one default entry. The emulation follows from
// the size of the boot image file.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/image/ByteWriter.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

enum TBootMediaType : std::uint8_t {
  bmNoEmulation = 0,
  bmFloppy12 = 1,
  bmFloppy144 = 2,
  bmFloppy288 = 3,
};

struct TBootMedia {
  std::int32_t ImageBytes;
  TBootMediaType MediaType;
  std::uint16_t SectorCount;  // 512-byte virtual sectors loaded at boot
};

// The boot media an image of this size selects; none for any other size.
[[nodiscard]] std::optional<TBootMedia> BootMediaOfSize(std::int64_t imageBytes);

// Sets the boot image of the compilation, or clears it for an empty name.
// The file is opened and its size checked; a file that cannot be opened or
// has none of the accepted sizes clears the boot image and gives false.
// Either way the layout is no longer current. While a write runs nothing
// changes and the result is false.
[[nodiscard]] bool SetBootImageFile(TCDFiles& cd, const std::string& FileName);

void WriteBootRecord(TByteWriter& sector, const TCDFiles& cd);
void WriteBootCatalog(TByteWriter& sector, const TCDFiles& cd);

}  // namespace kilnor
