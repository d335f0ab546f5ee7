#pragma once
// The layout of one session (ISO 9660, Joliet, ISO 9660:1999, El Torito) in
// two phases: Prepare counts sectors and assigns every address, relative to
// the start of the session; GenerateHeader writes every sector of the
// session that is not data (system area, descriptors, path tables,
// directories, boot catalog, padding) into the compilation's header buffer.
// Both run on the caller's thread.
#include <cstdint>

#include "engine/image/TreeTypes.h"

namespace kilnor {

// Sector where data may start at the earliest; the header is padded up to it.
inline constexpr std::uint32_t kFirstDataSector = 150;
// Sessions are a whole number of 64 KiB packets.
inline constexpr std::uint32_t kPacketSectors = 32;

// Lays out the session. Returns its size in sectors before the rounding to
// whole packets (FirstDataSector + FilesSize, plus the closing UDF anchor);
// 0 without a root, when the session would be larger than its 32-bit fields
// can describe (the reason is in PrepareError), or when the UDF bridge is
// refused (the reason is in UDFBridgeInfo.LayoutError).
std::uint32_t Prepare(TCDFiles& cd);

// Writes the header of the prepared layout into cd.isom (IsoHeaderSize
// bytes, HeaderSectors sectors). False, and nothing written, when the layout
// is not current.
[[nodiscard]] bool GenerateHeader(TCDFiles& cd);

// Whether the entry's data is new, i.e. is laid out in the file data area
// and must be streamed there: a file (not a directory's entry) of one byte or
// more that is neither imported from an earlier session nor sharing a twin's
// recorded data. The layout and the stream use this one rule.
[[nodiscard]] bool HasNewData(const TFileEntry& entry);

// The layout-affecting switches as they are now.
[[nodiscard]] TLayoutSwitches CurrentSwitches(const TCDFiles& cd);

// Prepared, and nothing the layout depends on changed since.
[[nodiscard]] bool LayoutIsCurrent(const TCDFiles& cd);

}  // namespace kilnor
