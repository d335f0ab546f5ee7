#pragma once
// Where a session goes on the medium in the drive, found before the cache
// starts: the medium is checked, a DVD-RW prepared, the first sector and the
// track of the session found and the free space compared with what the
// session needs. Nothing is written to the medium before all of it agrees.
#include <cstdint>

#include "engine/device/SCSILib.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

// What the write thread needs to know about the medium and the session.
struct TDiscTarget {
  TMedium Medium = mtUNKNOWN;
  std::uint32_t Start = 0;        // first sector of the session on the medium
  std::uint32_t VolumeSize = 0;   // sectors of the volume already on an overwritable medium
  std::uint32_t Sectors = 0;      // sectors of the stream
  std::uint16_t Track = 0;        // the track the session is recorded in
  std::int32_t Sessions = 0;      // closed sessions on the medium before this one
  bool ImageBurn = false;         // the stream is an image file laid out for sector 0
  bool GrowsVolume = false;       // the session's first packet goes to sectors 0-31 once it is complete
  bool TestWrite = false;
  bool BurnProof = false;
  bool Finalize = false;
};

// Media on which the drive only simulates a test write (CD, DVD-R, DVD-RW
// recorded sequentially), when the drive says it can.
[[nodiscard]] bool SimulatesTestWrite(const TSCSIDevice& Device, TMedium Medium);

// Detects the medium and fills Target for a stream of Sectors sectors; a
// compilation burn may format a blank DVD-RW first. False, with the reason
// recorded in CDFiles, when the session cannot be recorded: no writable
// medium, a test write the medium would record, an image on a disc that
// already holds data, an unknown session start, or too little free space.
[[nodiscard]] bool FindDiscTarget(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Sectors, bool ImageBurn,
                                  TDiscTarget& Target);

// Records the drive's reason for the failure of the last command, or
// NoSense when the drive gave none (a busy drive answers without sense).
void RecordDriveError(TCDFiles& CDFiles, const TSCSIDevice& Device, std::uint32_t NoSense);

}  // namespace kilnor
