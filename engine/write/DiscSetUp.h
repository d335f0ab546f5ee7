#pragma once
// The drive set up on the write thread before the first packet: write
// parameters for the medium, the speeds asked for, and on DVD-R the track
// reserved for the session.
#include "engine/device/SCSILib.h"
#include "engine/image/TreeTypes.h"
#include "engine/write/DiscTarget.h"

namespace kilnor {

// False, with the drive's reason recorded, when the drive refuses what the
// medium cannot be recorded without.
[[nodiscard]] bool SetUpDrive(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target);

// Reads how full the drive's buffer is, for the progress the owner shows.
void ReadDriveBuffer(TSCSIDevice& Device);

}  // namespace kilnor
