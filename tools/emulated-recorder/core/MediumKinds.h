#pragma once
// The kinds of medium the recorder knows: their MMC profile, family and the
// way they are recorded.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace velmor::emu {

enum class TFamily : std::uint8_t { Cd, Dvd, Bd, HdDvd };

enum class TRecording : std::uint8_t {
  ReadOnly,    // pressed: only read
  Sequential,  // written once in increasing addresses, in tracks and sessions
  Overwrite,   // written anywhere inside the formatted area
};

enum class TMediumKind : std::uint8_t {
  CdRom,
  CdR,
  CdRw,
  DvdR,
  DvdRwSequential,
  DvdRwRestricted,
  DvdPlusR,
  DvdPlusRDl,
  DvdPlusRw,
  DvdRam,
  BdR,
  BdRe,
  HdDvdR,
  HdDvdRam,
};

struct TMediumTraits {
  TMediumKind Kind;
  std::string_view Name;        // as the command-line helper and the state files name it
  std::uint16_t Profile;        // MMC profile number
  TFamily Family;
  TRecording Recording;
  std::uint32_t Capacity;       // user blocks of a new medium of this kind
  bool Blankable;               // BLANK erases it
  bool Formattable;             // FORMAT UNIT applies
  bool WritesByPageFive;        // write type, test write and multi-session come from mode page 05h
  std::uint32_t BlockAlignment; // ECC block or cluster a track start is aligned to
  std::uint32_t SessionGap;     // blocks between the end of a session and the next one
};

[[nodiscard]] const TMediumTraits& Traits(TMediumKind Kind);
[[nodiscard]] std::optional<TMediumKind> MediumKindByName(std::string_view Name);
[[nodiscard]] std::optional<TMediumKind> MediumKindByProfile(std::uint16_t Profile);
[[nodiscard]] std::span<const TMediumTraits> AllMediumKinds();

// Profiles a drive that writes Writable also reads: the pressed form of the
// same family comes with any writable one.
[[nodiscard]] std::uint16_t RomProfileOf(TFamily Family);

}  // namespace velmor::emu
