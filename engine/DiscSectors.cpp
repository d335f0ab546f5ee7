#include "engine/DiscSectors.h"

#include "engine/device/Commands.h"
#include "engine/device/Media.h"

namespace kilnor {
namespace {

// READ (10) takes at most one packet a command here.
constexpr std::uint32_t kReadBlocks = kPacketBytes / kSectorBytes;
constexpr std::uint8_t kTrackBlank = 0x40;

bool TrackOfSession(TSCSIDevice& dev, std::int32_t session) {
  const auto number = static_cast<std::uint32_t>(session);
  if (ReadTrackInformationOfSession(dev, number) && dev.TrackInformation.SessionNumber == number) return true;
  return ReadTrackInformation(dev, number) && dev.TrackInformation.SessionNumber == number;
}

}  // namespace

bool TDiscSectors::ReadSectors(std::uint32_t LBA, std::uint32_t Count, std::span<std::uint8_t> Out) {
  if (Out.size() < std::size_t{Count} * kSectorBytes) return false;
  for (std::uint32_t done = 0; done < Count;) {
    const std::uint32_t blocks = std::min(kReadBlocks, Count - done);
    if (!Read10(dev_, LBA + done, static_cast<std::uint16_t>(blocks),
                Out.subspan(std::size_t{done} * kSectorBytes, std::size_t{blocks} * kSectorBytes))) {
      return false;
    }
    done += blocks;
  }
  return true;
}

std::optional<TDiscSession> LocateDiscSession(TSCSIDevice& Dev, std::uint16_t SessionNo, std::string& Reason) {
  if (DiscIs(Dev) == mtUNKNOWN) {
    Reason = "no medium in the drive";
    return std::nullopt;
  }
  const std::int32_t sessions = SessionsOnDisc(Dev);
  if (sessions <= 0) {
    Reason = "the disc is blank: it holds no recorded session";
    return std::nullopt;
  }
  if (SessionNo > sessions) {
    Reason = "the disc holds " + std::to_string(sessions) + " session(s), not " + std::to_string(SessionNo);
    return std::nullopt;
  }
  TDiscSession session;
  session.Number = SessionNo != 0 ? SessionNo : sessions;
  if (!TrackOfSession(Dev, session.Number)) {
    Reason = "the drive does not tell where session " + std::to_string(session.Number) + " starts";
    return std::nullopt;
  }
  const TTrackInformation& track = Dev.TrackInformation;
  if ((track.info2 & kTrackBlank) != 0) {
    Reason = "session " + std::to_string(session.Number) + " holds no data";
    return std::nullopt;
  }
  session.Place.FirstCandidate = track.TrackStartAddress + kDescriptorAreaStart;
  session.Place.Candidates = kDescriptorAreaSectors;
  if (track.TrackSize != kUnknownTrackSize && track.TrackSize != 0) {
    session.Place.End = std::uint64_t{track.TrackStartAddress} + track.TrackSize;
  }
  return session;
}

}  // namespace kilnor
