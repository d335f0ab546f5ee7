#pragma once
#include <cstdint>

namespace kilnor {

// Medium in the drive, as DiscIs reports it. The order is part of the
// component's interface: callers store and compare these values.
enum TMedium : std::uint8_t {
  mtUNKNOWN,
  mtCDROM,
  mtCDR,
  mtCDRW,
  mtDVDROM,
  mtDVDR,
  mtDVDRAM,
  mtDVDRW,
  mtDVDRWRO,
  mtDVDRWSR,
  mtDVDPLUSRW,
  mtDVDPLUSR,
  mtDVDPLUSRDL,
  mtBDROM,
  mtBDRSR,
  mtBDRRR,
  mtBDRE,
  mtHDDVDROM,
  mtHDDVDR,
  mtHDDVDRAM,
  mtDDCDROM,
  mtDDCDR,
  mtDDCDRW,
};

}  // namespace kilnor
