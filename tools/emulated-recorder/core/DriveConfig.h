#pragma once
// What a drive is: identification, the profiles it writes, its speeds and
// buffer, and how it behaves in time.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "MediumKinds.h"

namespace velmor::emu {

struct TSpeeds {
  std::vector<std::uint16_t> Read;   // kilobytes per second, highest first
  std::vector<std::uint16_t> Write;  // kilobytes per second, highest first
};

struct TDriveConfig {
  std::string Vendor = "VELMOR";
  std::string Product = "VIRTUAL RECORDER";
  std::string Revision = "1.00";
  std::string Serial = "VR0000000001";
  std::vector<TMediumKind> Writes;          // kinds the drive records
  std::map<TFamily, TSpeeds> Speeds;        // per family
  std::uint32_t BufferKiB = 2048;
  std::uint32_t BusyPolls = 1;              // not-ready answers of a long operation
  std::uint32_t LoadingPolls = 0;           // becoming-ready answers after a load
  bool Realtime = false;                    // move data at the set speed
  bool BlockDescriptor = false;             // MODE SENSE returns a block descriptor
  char DriveLetter = 0;                     // reported to get-disk-info; 0 = none

  [[nodiscard]] bool CanWrite(TMediumKind Kind) const;
  [[nodiscard]] bool CanRead(TMediumKind Kind) const;
  [[nodiscard]] bool ReadsFamily(TFamily Family) const;
  [[nodiscard]] const TSpeeds& SpeedsFor(TFamily Family) const;

  // The drive a newcomer finds: it writes every kind of medium.
  [[nodiscard]] static TDriveConfig Default();
};

}  // namespace velmor::emu
