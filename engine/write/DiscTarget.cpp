#include "engine/write/DiscTarget.h"

#include <algorithm>
#include <initializer_list>
#include <span>

#include "engine/device/Commands.h"
#include "engine/device/Erase.h"
#include "engine/device/FormatLists.h"
#include "engine/device/Media.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

constexpr std::uint8_t kDiscStatusEmpty = 0;
// A next writable address the drive gives for a track it has not started.
constexpr std::uint32_t kUnstartedTrackAddress = 1000;

[[nodiscard]] bool IsAnyOf(TMedium Medium, std::initializer_list<TMedium> Media) {
  return std::find(Media.begin(), Media.end(), Medium) != Media.end();
}

[[nodiscard]] bool Fail(TCDFiles& CDFiles, std::uint32_t Number) {
  RecordError(CDFiles, Number);
  return false;
}

[[nodiscard]] bool DiscIsEmpty(TSCSIDevice& Device) {
  return ReadDiscInformation(Device, Device.DiscInformation, kDiscInformationBytes) &&
         (Device.DiscInformation.info & kDiscStatusMask) == kDiscStatusEmpty;
}

// Formats with List and waits until the drive is ready again.
[[nodiscard]] bool FormatAndWait(TCDFiles& CDFiles, TSCSIDevice& Device, std::span<const std::uint8_t> List) {
  if (!FormatUnit(Device, kFormatDataCode1, List)) return false;
  const auto poll = [&] { return ReadDiscInformation(Device, Device.BGFDI, kDiscInformationPollBytes); };
  return WaitWhileNotReady(Device, CDFiles.Aborted, poll) == TWaitOutcome::Ready;
}

// A blank sequential DVD-RW becomes restricted overwrite, and a restricted
// overwrite one grows its last session. A DVD-RW that holds sessions
// recorded sequentially is appended to as it is: formatting would erase them.
[[nodiscard]] bool PrepareDVDRW(TCDFiles& CDFiles, TSCSIDevice& Device, TDiscTarget& Target) {
  if (Target.ImageBurn || Target.TestWrite) return true;
  if (Target.Medium == mtDVDRWSR) {
    if (!DiscIsEmpty(Device)) return true;
    if (!FormatAndWait(CDFiles, Device, kDVDRWQuickFormatList) &&
        !FormatAndWait(CDFiles, Device, kDVDRWQuickFormatAnySizeList)) {
      RecordDriveError(CDFiles, Device, erDiscNotWritable);
      return false;
    }
    Target.Medium = Device.Medium = DiscIs(Device);
    return true;
  }
  if (Target.Medium == mtDVDRWRO && !FormatAndWait(CDFiles, Device, kDVDRWGrowLastSessionList)) {
    RecordDriveError(CDFiles, Device, erDiscNotWritable);
    return false;
  }
  return true;
}

// The session of a sequential medium starts at the next writable address of
// its open track; a drive that names neither that nor the first track's
// start leaves the start unknown.
[[nodiscard]] bool FindSequentialStart(TSCSIDevice& Device, TDiscTarget& Target) {
  if (ReadTrackInformation(Device, LastTrackNumber(Device))) {
    const std::uint32_t next = Device.TrackInformation.NextWritableAddress;
    Target.Start = next == kUnstartedTrackAddress ? 0 : next;
  } else if (ReadTrackInformation(Device, 1)) {
    Target.Start = Device.TrackInformation.TrackStartAddress;
  } else {
    return false;
  }
  Target.Track = Device.TrackInformation.TrackNumber;
  return true;
}

[[nodiscard]] bool FindStart(TCDFiles& CDFiles, TSCSIDevice& Device, TDiscTarget& Target) {
  if (IsOverwritable(Target.Medium)) {
    Target.VolumeSize = Target.ImageBurn ? 0 : ReadVolumeSpaceSize(Device);
    Target.Start = Target.VolumeSize;
    Target.GrowsVolume = Target.Start != 0;
    if (ReadTrackInformation(Device, 1)) Target.Track = Device.TrackInformation.TrackNumber;
    return true;
  }
  if (Target.ImageBurn && !DiscIsEmpty(Device)) return Fail(CDFiles, erImageNeedsBlankDisc);
  if (!FindSequentialStart(Device, Target)) return Fail(CDFiles, erSessionStartUnknown);
  return true;
}

// Sectors the session may take from its start on.
[[nodiscard]] std::uint32_t RoomFor(TSCSIDevice& Device, const TDiscTarget& Target) {
  if (IsOverwritable(Target.Medium) && Target.ImageBurn) return QueryTotalBlocks(Device);
  return QueryFreeBlocks(Device);
}

}  // namespace

bool SimulatesTestWrite(const TSCSIDevice& Device, TMedium Medium) {
  return Device.dc.TestWrite && IsAnyOf(Medium, {mtCDR, mtCDRW, mtDVDR, mtDVDRW, mtDVDRWSR});
}

void RecordDriveError(TCDFiles& CDFiles, const TSCSIDevice& Device, std::uint32_t NoSense) {
  const TSENSE& sense = Device.LastSenseInfo;
  const std::uint32_t drive = std::uint32_t{sense.AddSenseCode} * 256 + sense.AddSenQual;
  RecordError(CDFiles, drive != 0 ? drive : NoSense);
}

bool FindDiscTarget(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Sectors, bool ImageBurn,
                    TDiscTarget& Target) {
  // An earlier operation's abort must not cut short this one's waits for
  // the drive (a blank DVD-RW's format).
  CDFiles.Aborted = false;
  Target = {};
  Target.Sectors = Sectors;
  Target.ImageBurn = ImageBurn;
  Target.TestWrite = Device.TestWrite;
  Target.BurnProof = Device.BurnProof;
  Target.Finalize = Device.FinalizeDisc;
  Target.Medium = Device.Medium = DiscIs(Device);
  if (!Writable(Device)) {
    // A drive without a medium says so in its sense; a closed disc answers
    // without complaint and is simply not writable.
    RecordDriveError(CDFiles, Device, erDiscNotWritable);
    return false;
  }
  if (Target.TestWrite && !SimulatesTestWrite(Device, Target.Medium)) return Fail(CDFiles, erTestWriteNotSimulated);
  SetWriteParameters(Device, Target.TestWrite, Target.BurnProof, false, Target.Medium);
  if (!PrepareDVDRW(CDFiles, Device, Target)) return false;
  const std::uint32_t room = RoomFor(Device, Target);
  if (!FindStart(CDFiles, Device, Target)) return false;
  if (Sectors > room) return Fail(CDFiles, erNoRoomOnDisc);
  Target.Sessions = SessionsOnDisc(Device);
  return true;
}

}  // namespace kilnor
