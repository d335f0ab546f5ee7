#include "MediumKinds.h"

#include <array>

namespace velmor::emu {

namespace {

using enum TMediumKind;
using enum TFamily;
using enum TRecording;

// Capacities are those of the common single-layer discs: an 80-minute CD,
// 4.7 GB DVD, 8.5 GB DVD+R DL, 25 GB BD, 15 GB HD DVD-R, 20 GB HD DVD-RAM.
constexpr std::array kKinds{
    TMediumTraits{CdRom, "cd-rom", 0x0008, Cd, ReadOnly, 359'849, false, false, false, 1, 0},
    TMediumTraits{CdR, "cd-r", 0x0009, Cd, Sequential, 359'849, false, false, true, 1, 11'400},
    TMediumTraits{CdRw, "cd-rw", 0x000A, Cd, Sequential, 359'849, true, false, true, 1, 11'400},
    TMediumTraits{DvdR, "dvd-r", 0x0011, Dvd, Sequential, 2'298'496, false, false, true, 16, 12'288},
    TMediumTraits{DvdRwSequential, "dvd-rw", 0x0014, Dvd, Sequential, 2'298'496, true, true, true, 16,
                  12'288},
    TMediumTraits{DvdRwRestricted, "dvd-rw-ro", 0x0013, Dvd, Overwrite, 2'298'496, true, true, false,
                  16, 0},
    TMediumTraits{DvdPlusR, "dvd+r", 0x001B, Dvd, Sequential, 2'295'104, false, false, false, 16,
                  12'288},
    TMediumTraits{DvdPlusRDl, "dvd+r-dl", 0x002B, Dvd, Sequential, 4'173'824, false, false, false, 16,
                  12'288},
    TMediumTraits{DvdPlusRw, "dvd+rw", 0x001A, Dvd, Overwrite, 2'295'104, false, true, false, 16, 0},
    TMediumTraits{DvdRam, "dvd-ram", 0x0012, Dvd, Overwrite, 2'236'704, false, true, false, 16, 0},
    TMediumTraits{BdR, "bd-r", 0x0041, Bd, Sequential, 12'219'392, false, false, false, 32, 4'096},
    TMediumTraits{BdRe, "bd-re", 0x0043, Bd, Overwrite, 12'219'392, false, true, false, 32, 0},
    TMediumTraits{HdDvdR, "hd-dvd-r", 0x0051, HdDvd, Sequential, 7'340'032, false, false, false, 32,
                  4'096},
    TMediumTraits{HdDvdRam, "hd-dvd-ram", 0x0052, HdDvd, Overwrite, 9'781'248, false, true, false, 32,
                  0},
};

}  // namespace

const TMediumTraits& Traits(TMediumKind Kind) { return kKinds[static_cast<std::size_t>(Kind)]; }

std::optional<TMediumKind> MediumKindByName(std::string_view Name) {
  for (const auto& traits : kKinds)
    if (traits.Name == Name) return traits.Kind;
  return std::nullopt;
}

std::optional<TMediumKind> MediumKindByProfile(std::uint16_t Profile) {
  for (const auto& traits : kKinds)
    if (traits.Profile == Profile) return traits.Kind;
  return std::nullopt;
}

std::span<const TMediumTraits> AllMediumKinds() { return kKinds; }

std::uint16_t RomProfileOf(TFamily Family) {
  switch (Family) {
    case Cd: return 0x0008;
    case Dvd: return 0x0010;
    case Bd: return 0x0040;
    case HdDvd: return 0x0050;
  }
  return 0;
}

}  // namespace velmor::emu
