#pragma once
// The drive behind the fuzzer's transport, and every question the device
// layer asks a drive about itself and its medium: capabilities, medium kind
// and state, sessions, capacities, speeds, buffer, and the volume of the
// last session.
#include <memory>
#include <string>

#include "engine/DiscSectors.h"
#include "engine/device/Commands.h"
#include "engine/device/Media.h"
#include "engine/device/SCSILib.h"
#include "engine/device/Speeds.h"
#include "engine/image/VolumeScan.h"

namespace kilnor::fuzz {

// Send receives each request block and must signal its event, as an ASPI
// library does.
[[nodiscard]] inline std::unique_ptr<TSCSIDevice> DeviceBehind(SendASPI32CommandFn Send) {
  auto dev = std::make_unique<TSCSIDevice>();
  dev->ASPIInitialized = true;
  dev->UsingSPTI = false;
  dev->SendASPI32Command = Send;
  dev->NoOfDevices = 1;
  dev->HaID = dev->Target = dev->Lun = 0;
  return dev;
}

inline void AskEverything(TSCSIDevice& dev) {
  (void)ReadCapabilities(dev);
  (void)DiscIs(dev);
  (void)Erasable(dev);
  (void)Writable(dev);
  (void)SessionsOnDisc(dev);
  (void)LastTrackNumber(dev);
  (void)QueryFreeBlocks(dev);
  (void)QueryTotalBlocks(dev);
  (void)ReadFormatCapacities(dev);
  (void)QueryDiscState(dev);
  (void)RecordedSessions(dev);
  (void)ReadVolumeSpaceSize(dev);
  (void)QueryDeviceMaxReadSpeed(dev);
  (void)QueryMaxWriteSpeed(dev);
  (void)QueryReadSpeed(dev);
  (void)QueryWriteSpeed(dev);
  if (ReadBufferCapacity(dev)) (void)DeviceBufferFill(dev);
  std::string reason;
  if (const auto session = LocateDiscSession(dev, 0, reason)) {
    TDiscSectors sectors(dev);
    (void)FindVolume(sectors, session->Place.FirstCandidate, session->Place.Candidates, reason);
  }
}

}  // namespace kilnor::fuzz
