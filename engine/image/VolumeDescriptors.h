#pragma once
// Volume descriptors (ECMA-119 8.4, 8.5, 8.3): the primary descriptor, the
// enhanced descriptor of ISO 9660:1999, the Joliet supplementary descriptor
// and the set terminator. Each fills one sector. Only the Joliet descriptor
// carries an escape sequence (UCS-2 level 1); the primary and enhanced ones
// describe the same ISO 9660 tree.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/image/ByteWriter.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

inline constexpr std::size_t kVolumeIdBytes = 32;

void WritePrimaryDescriptor(TByteWriter& sector, const TCDFiles& cd);
void WriteEnhancedDescriptor(TByteWriter& sector, const TCDFiles& cd);
void WriteJolietDescriptor(TByteWriter& sector, const TCDFiles& cd);
void WriteTerminator(TByteWriter& sector);

// The volume identifiers as recorded: in the ISO 9660 tree the label in
// d-characters only (letters upper-cased, every other character '_'), cut
// to 32; in the Joliet tree the label cut to 16 characters without splitting
// a surrogate pair, control characters and unpaired surrogates replaced.
[[nodiscard]] std::string IsoVolumeId(const TCDFiles& cd);
[[nodiscard]] std::u16string JolietVolumeId(const TCDFiles& cd);

}  // namespace kilnor
