#pragma once
// Finding the volume descriptor a recorded session is read through, and what
// it says: where the root directory is, how far the volume reaches, how its
// names are encoded, and its label (ECMA-119 8.4 and 8.5; Joliet marks its
// supplementary descriptor with the escape sequences 25 2F 40, 43 or 45).
#include <cstdint>
#include <optional>
#include <string>

#include "engine/image/SectorSource.h"

namespace kilnor {

enum class TNameEncoding : std::uint8_t {
  Ucs2BigEndian,  // Joliet
  EightBit,       // primary and enhanced (ISO 9660:1999) trees: UTF-8, else Latin-1
};

enum class TVolumeKind : std::uint8_t { Joliet, Enhanced, Primary };

struct TFoundVolume {
  TVolumeKind Kind = TVolumeKind::Primary;
  TNameEncoding Names = TNameEncoding::EightBit;
  std::uint32_t DescriptorSector = 0;
  std::uint32_t RootExtent = 0;
  std::uint32_t RootLength = 0;        // bytes, all 32 bits
  std::uint32_t VolumeSpaceSize = 0;   // sectors from the volume's sector 0
  std::u16string Label;                // trailing blanks removed
  // The primary tree records Rock Ridge (read instead of any other tree),
  // every record's system use area but the root's "." starting this many
  // bytes in.
  bool RockRidge = false;
  std::uint8_t SystemUseSkip = 0;
};

// The descriptor a session's tree is read through, and the primary one
// beside it (the only tree that may carry Rock Ridge).
struct TFoundVolumes {
  std::optional<TFoundVolume> Preferred;
  std::optional<TFoundVolume> Primary;
};

// The descriptor among Count candidate sectors from First: a Joliet one
// first, else an enhanced one, else the primary one. A candidate qualifies
// when it can be read, carries "CD001" and a 2,048-byte logical block, and
// its root directory lies inside its own volume. Nullopt, with the reason in
// Reason, when none qualifies.
[[nodiscard]] std::optional<TFoundVolume> FindVolume(TSectorSource& Source, std::uint32_t First,
                                                     std::uint32_t Count, std::string& Reason);
// The same search, keeping the primary descriptor too.
[[nodiscard]] TFoundVolumes FindVolumes(TSectorSource& Source, std::uint32_t First, std::uint32_t Count,
                                        std::string& Reason);

}  // namespace kilnor
