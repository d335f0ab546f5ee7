#pragma once
// The end of a session on the medium: the drive's cache flushed, the track
// and session closed the way the medium needs (the disc finalised when asked),
// and on an overwritable medium whose volume grows, the new session's first
// packet copied to sectors 0-31.
#include <cstdint>
#include <span>

#include "engine/device/SCSILib.h"
#include "engine/image/TreeTypes.h"
#include "engine/write/DiscTarget.h"

namespace kilnor {

// Runs after every burn, complete or not. Complete means every packet of the
// session was written; only then is FirstPacket copied to the start of the
// medium, so a failed or aborted session leaves the earlier volume as it
// was. True when the closing commands that decide whether the medium holds
// the session succeeded; otherwise the drive's reason is recorded.
[[nodiscard]] bool CloseDisc(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target, bool Complete,
                             std::span<const std::uint8_t> FirstPacket);

}  // namespace kilnor
