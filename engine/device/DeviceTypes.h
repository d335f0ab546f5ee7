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

// What can still be recorded on the medium in the drive.
enum class TDiscState {
  NoDisc,        // no medium, or its state cannot be read
  Blank,
  Appendable,    // sessions are closed and another one can follow
  Finalised,     // nothing more can be recorded
  Overwritable,  // recorded in place: a new session grows the volume
};

// One recorded session: its number, first sector and length in sectors.
struct TSessionExtent {
  std::uint32_t Number = 0;
  std::uint32_t Start = 0;
  std::uint32_t Length = 0;
};

// Capability numbers of DeviceCan.
enum TDeviceCapability : std::uint8_t {
  DC_READ_CDR = 1,
  DC_READ_CDRW = 2,
  DC_READ_DVDRAM = 3,
  DC_READ_DVDR = 4,
  DC_READ_DVDRW = 5,
  DC_READ_DVDPLUSR = 6,
  DC_READ_DVDPLUSRW = 7,
  DC_READ_DVDPLUSRDL = 8,
  DC_READ_HDDVDROM = 9,
  DC_READ_HDDVDR = 10,
  DC_READ_HDDVDRAM = 11,
  DC_READ_BDROM = 12,
  DC_READ_BDR = 13,
  DC_READ_BDRE = 14,
  DC_WRITE_CDR = 21,
  DC_WRITE_CDRW = 22,
  DC_WRITE_DVDRAM = 23,
  DC_WRITE_DVDR = 24,
  DC_WRITE_DVDRW = 25,
  DC_WRITE_DVDPLUSR = 26,
  DC_WRITE_DVDPLUSRW = 27,
  DC_WRITE_DVDPLUSRDL = 28,
  DC_WRITE_HDDVDR = 29,
  DC_WRITE_HDDVDRAM = 30,
  DC_WRITE_BDR = 31,
  DC_WRITE_BDRE = 32,
  DC_TEST_WRITE = 41,
  DC_UNDERRUNPROTECTION = 42,
  DC_OPEN_LOG = 72,
  DC_CLOSE_LOG = 73,
};

}  // namespace kilnor
