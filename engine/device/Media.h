#pragma once
// What kind of medium is in the selected drive, what the drive can read and
// write, whether the medium can be erased or written, how many sessions it
// holds and how many blocks (2,048-byte sectors) are free and in total.
// Every query degrades to a neutral answer (mtUNKNOWN, false, 0) when its
// commands fail; the reason stays in Dev.LastSenseInfo.
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/device/SCSILib.h"

namespace kilnor {

// The medium of a GET CONFIGURATION current profile; mtUNKNOWN for any
// profile without one.
[[nodiscard]] TMedium ProfileMedium(std::uint16_t Profile);
// "mtCDR", "mtDVDPLUSRW", ...; mtBDRSR is "mtBDR".
[[nodiscard]] std::string_view MediumName(TMedium Medium);

// The medium in the drive: from the current profile, else the ATIP, else
// the disc information, else whether the unit is ready.
[[nodiscard]] TMedium DiscIs(TSCSIDevice& Dev);

// Reads the capabilities page (defaults, then current values) and probes the
// features into Dev.ModePage2A, Dev.dc and the speed fields. False, with the
// page and flags zeroed, when the page cannot be read.
bool ReadCapabilities(TSCSIDevice& Dev);

// Answers from the capabilities read last, without a command. DC_OPEN_LOG
// opens the command log at DefaultCommandLogPath() (true when created),
// DC_CLOSE_LOG closes it (true when one was open); other numbers are false.
bool DeviceCan(TSCSIDevice& Dev, std::uint8_t DeviceCapabilityID);
// Any write capability in the capabilities page read last.
[[nodiscard]] bool DeviceIsBurner(const TSCSIDevice& Dev);

[[nodiscard]] bool Erasable(TSCSIDevice& Dev);
[[nodiscard]] bool Writable(TSCSIDevice& Dev);
// Closed sessions (an empty last session does not count); 1 for a DVD-RAM
// and 0 for any other medium whose disc information cannot be read.
[[nodiscard]] std::int32_t SessionsOnDisc(TSCSIDevice& Dev);
// Number of the last track of the last session; 0 when unknown.
[[nodiscard]] std::uint16_t LastTrackNumber(TSCSIDevice& Dev);

// Free and total blocks of the medium; 0 when unknown.
[[nodiscard]] std::uint32_t QueryFreeBlocks(TSCSIDevice& Dev);
[[nodiscard]] std::uint32_t QueryTotalBlocks(TSCSIDevice& Dev);
// Blocks of the first full-format capacity of 2,048-byte blocks, else of
// the current capacity; 0 when unknown or when no medium is present.
[[nodiscard]] std::uint32_t ReadFormatCapacities(TSCSIDevice& Dev);
// Media written in place, where a new session extends the volume found at
// the start of the medium.
[[nodiscard]] bool IsOverwritable(TMedium Medium);

[[nodiscard]] TDiscState QueryDiscState(TSCSIDevice& Dev);
[[nodiscard]] std::string_view DiscStateName(TDiscState State);

// The recorded sessions of the medium in order, from the information of
// each track. An overwritable medium holds one session: the volume that
// starts at sector 0. Empty when nothing is recorded or nothing can be read.
[[nodiscard]] std::vector<TSessionExtent> RecordedSessions(TSCSIDevice& Dev);

// Blocks an ISO 9660 file system at the start of the medium occupies (the
// supplementary volume's size, else the primary's); 0 when none is found.
[[nodiscard]] std::uint32_t ReadVolumeSpaceSize(TSCSIDevice& Dev);

}  // namespace kilnor
