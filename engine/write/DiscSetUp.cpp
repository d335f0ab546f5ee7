#include "engine/write/DiscSetUp.h"

#include "engine/device/Commands.h"
#include "engine/device/Speeds.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

constexpr std::uint32_t kStreamingTimeMs = 1000;

[[nodiscard]] bool UsesStreamingPerformance(TMedium Medium) {
  switch (Medium) {
    case mtDVDR:
    case mtDVDRWRO:
    case mtDVDRWSR:
    case mtDVDPLUSR:
    case mtDVDPLUSRW:
    case mtDVDPLUSRDL:
    case mtBDRSR:
    case mtBDRRR:
    case mtBDRE:
    case mtHDDVDR:
    case mtHDDVDRAM: return true;
    default: return false;
  }
}

// CD and DVD-R/-RW take write type and test write from the write
// parameters page: without it the drive would not record as asked.
[[nodiscard]] bool NeedsWriteParameters(TMedium Medium) {
  switch (Medium) {
    case mtCDR:
    case mtCDRW:
    case mtDVDR:
    case mtDVDRW:
    case mtDVDRWSR: return true;
    default: return false;
  }
}

// The speed asked for, and on DVD, BD and HD DVD the same again as a
// streaming performance over the session.
void SetSpeeds(TSCSIDevice& Device, const TDiscTarget& Target) {
  static_cast<void>(SetCDSpeed(Device, Device.ReadSpeed, Device.WriteSpeed));
  if (!UsesStreamingPerformance(Target.Medium)) return;
  const std::uint32_t write = QueryWriteSpeed(Device);
  const std::uint32_t read = QueryReadSpeed(Device);
  const std::uint32_t end = Target.Start + Target.Sectors;
  static_cast<void>(SetStreamingPerformance(Device, end, read, write, kStreamingTimeMs, kStreamingTimeMs));
}

// A DVD-R session is written into a track reserved for its size.
[[nodiscard]] bool ReserveSessionTrack(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target) {
  if (Target.Medium != mtDVDR) return true;
  static_cast<void>(SendTimeStamp(Device));
  if (ReserveTrack(Device, Target.Sectors)) return true;
  RecordDriveError(CDFiles, Device, erDiscNotWritable);
  return false;
}

}  // namespace

bool SetUpDrive(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target) {
  Device.DeviceBufferPosition = 0;
  Device.DeviceBufferSize = 0;
  static_cast<void>(SynchronizeCache(Device, false));
  static_cast<void>(RezeroUnit(Device));
  static_cast<void>(ReadBufferCapacity(Device));
  const bool multisession = Target.Medium == mtDVDPLUSR && !Target.Finalize;
  if (!SetWriteParameters(Device, Target.TestWrite, Target.BurnProof, multisession, Target.Medium) &&
      NeedsWriteParameters(Target.Medium)) {
    RecordDriveError(CDFiles, Device, erDiscNotWritable);
    return false;
  }
  static_cast<void>(ReadDiscInformation(Device, Device.DiscInformation, kDiscInformationBytes));
  SetSpeeds(Device, Target);
  if (!ReserveSessionTrack(CDFiles, Device, Target)) return false;
  Device.CloseFH = false;
  return true;
}

void ReadDriveBuffer(TSCSIDevice& Device) { static_cast<void>(ReadBufferCapacity(Device)); }

}  // namespace kilnor
