#include "engine/device/Media.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>

#include "engine/device/CommandLog.h"
#include "engine/device/Commands.h"
#include "engine/device/WireBytes.h"

namespace kilnor {

namespace {

using wire::GetBE16;
using wire::GetLE32;

constexpr std::uint16_t kCapabilitiesReplyBytes = 128;
constexpr std::uint16_t kConfigurationProbeBytes = 112;
constexpr std::uint16_t kCurrentProfileBytes = 114;
constexpr std::uint8_t kAtipBytes = 30;
constexpr std::size_t kAtipDiscTypeByte = 6;
constexpr std::uint8_t kCapabilitiesPage = 0x2A;
constexpr std::uint8_t kVendorUnderrunPage = 0x30;
constexpr std::uint8_t kErasableBit = 0x10;
constexpr std::uint8_t kFixedPacketBit = 0x10;
constexpr std::uint32_t kFirstVolumeDescriptor = 16;
constexpr std::uint32_t kLastVolumeDescriptor = 31;
constexpr std::uint32_t kBlockLength2048 = 0x000800;
constexpr std::uint8_t kNoMediumDescriptor = 0x03;

struct TProfileMedium {
  std::uint16_t Profile;
  TMedium Medium;
};

constexpr TProfileMedium kProfiles[] = {
    {0x0008, mtCDROM},     {0x0009, mtCDR},        {0x000A, mtCDRW},     {0x0010, mtDVDROM},
    {0x0011, mtDVDR},      {0x0012, mtDVDRAM},     {0x0013, mtDVDRWRO},  {0x0014, mtDVDRWSR},
    {0x001A, mtDVDPLUSRW}, {0x001B, mtDVDPLUSR},   {0x0020, mtDDCDROM},  {0x0021, mtDDCDR},
    {0x0022, mtDDCDRW},    {0x002B, mtDVDPLUSRDL}, {0x0040, mtBDROM},    {0x0041, mtBDRSR},
    {0x0042, mtBDRRR},     {0x0043, mtBDRE},       {0x0050, mtHDDVDROM}, {0x0051, mtHDDVDR},
    {0x0052, mtHDDVDRAM},
};

constexpr std::string_view kMediumNames[] = {
    "mtUNKNOWN",    "mtCDROM",    "mtCDR",     "mtCDRW",    "mtDVDROM",    "mtDVDR",
    "mtDVDRAM",     "mtDVDRW",    "mtDVDRWRO", "mtDVDRWSR", "mtDVDPLUSRW", "mtDVDPLUSR",
    "mtDVDPLUSRDL", "mtBDROM",    "mtBDR",     "mtBDRRR",   "mtBDRE",      "mtHDDVDROM",
    "mtHDDVDR",     "mtHDDVDRAM", "mtDDCDROM", "mtDDCDR",   "mtDDCDRW",
};
static_assert(std::size(kMediumNames) == mtDDCDRW + 1);

[[nodiscard]] bool IsAnyOf(TMedium Medium, std::initializer_list<TMedium> Media) {
  return std::find(Media.begin(), Media.end(), Medium) != Media.end();
}

[[nodiscard]] std::uint32_t ClampedDifference(std::uint32_t Minuend, std::uint32_t Subtrahend) {
  return Minuend > Subtrahend ? Minuend - Subtrahend : 0;
}

// The capabilities page in the reply now in Dev.tmpBuffer; fields the page
// does not carry stay 0, and so does a reply without the page.
[[nodiscard]] TModePage2A DecodeCapabilitiesPage(const TSCSIDevice& Dev) {
  const std::span<const std::uint8_t> reply =
      std::span(Dev.tmpBuffer)
          .first(std::min<std::size_t>(kCapabilitiesReplyBytes, Dev.LastTransferLength));
  TModePageSpan where;
  TModePage2A page;
  if (!LocateModePage(reply, kCapabilitiesPage, where)) return page;
  const std::span<const std::uint8_t> bytes = reply.subspan(where.Offset, where.Length);
  const auto byteAt = [&](std::size_t At) -> std::uint8_t {
    return At < bytes.size() ? bytes[At] : 0;
  };
  const auto be16At = [&](std::size_t At) -> std::uint16_t {
    return At + 2 <= bytes.size() ? GetBE16(bytes, At) : 0;
  };
  page.PageCode = byteAt(0) & 0x3F;
  page.PageLen = byteAt(1);
  page.ReadInfo = byteAt(2);
  page.WriteInfo = byteAt(3);
  page.OtherInfo = byteAt(4);
  page.CDDASupported = byteAt(5);
  page.Lock = byteAt(6);
  page.SepChanVol = byteAt(7);
  page.MaxReadSpeed = be16At(8);
  page.NumVolLevels = be16At(10);
  page.BufferSize = be16At(12);
  page.CurReadSpeed = be16At(14);
  page.BCK = byteAt(17);
  page.MaxWriteSpeed = be16At(18);
  page.CurWriteSpeed = be16At(20);
  return page;
}

void SetFlagsFromPage(TDC& dc, const TModePage2A& Page) {
  dc.Read_CDR = Page.ReadInfo & 0x01;
  dc.Read_CDRW = Page.ReadInfo & 0x02;
  dc.Read_Method2 = Page.ReadInfo & 0x04;
  dc.Read_DVDROM = Page.ReadInfo & 0x08;
  dc.Read_DVDR = Page.ReadInfo & 0x10;
  dc.Read_DVDRAM = Page.ReadInfo & 0x20;
  dc.Write_CDR = Page.WriteInfo & 0x01;
  dc.Write_CDRW = Page.WriteInfo & 0x02;
  dc.TestWrite = Page.WriteInfo & 0x04;
  dc.Write_DVDR = Page.WriteInfo & 0x10;
  dc.Write_DVDRAM = Page.WriteInfo & 0x20;
  dc.UnderRunProtection = Page.OtherInfo & 0x80;
}

// One GET CONFIGURATION probe: the drive reports the feature, or, for the
// features a drive without a medium is taken to have, reports no medium.
[[nodiscard]] bool ProbeFeature(TSCSIDevice& Dev, std::uint16_t Feature, bool OrNoMedium) {
  if (!GetConfiguration(Dev, Dev.ConfigHeader, kConfigurationProbeBytes, Feature)) return false;
  return Dev.ConfigHeader.FeatureCode == Feature ||
         (OrNoMedium && Dev.ConfigHeader.CurrentProfile == 0);
}

void ProbeFeatures(TSCSIDevice& Dev) {
  TDC& dc = Dev.dc;
  const auto writes = [&] { return (Dev.ConfigHeader.info & 0x01) != 0; };
  if (ProbeFeature(Dev, 0x002A, true)) {
    dc.Read_DVDPLUSR = dc.Read_DVDPLUSRW = true;
    if (writes()) dc.Write_DVDPLUSR = dc.Write_DVDPLUSRW = true;
  }
  if (ProbeFeature(Dev, 0x003B, false)) {
    dc.Read_DVDPLUSRDL = true;
    if (writes()) dc.Write_DVDPLUSRDL = true;
  }
  if (ProbeFeature(Dev, 0x002F, true) && (Dev.ConfigHeader.info & 0x02) != 0)
    dc.Read_DVDRW = dc.Write_DVDRW = true;
  if (ProbeFeature(Dev, 0x0040, true)) dc.Read_BDROM = dc.Read_BDR = dc.Read_BDRE = true;
  if (ProbeFeature(Dev, 0x0041, true)) dc.Write_BDR = dc.Write_BDRE = true;
  if (ProbeFeature(Dev, 0x0050, true)) dc.Read_HDDVDROM = dc.Read_HDDVDR = dc.Read_HDDVDRAM = true;
  if (ProbeFeature(Dev, 0x0051, true)) dc.Write_HDDVDR = dc.Write_HDDVDRAM = true;
}

// The medium told by the ATIP of a CD; nothing when the drive returns no
// ATIP descriptor.
[[nodiscard]] std::optional<TMedium> MediumFromAtip(TSCSIDevice& Dev) {
  std::array<std::uint8_t, kAtipBytes> reply{};
  if (!ReadTocPmaAtip(Dev, 4, 0, true, reply, kAtipBytes)) return std::nullopt;
  const std::span<const std::uint8_t> valid = ValidReply(Dev, reply, 2);
  if (valid.size() <= kAtipDiscTypeByte) return std::nullopt;
  const std::uint8_t discType = valid[kAtipDiscTypeByte];
  if ((discType & 0x80) == 0) return mtCDROM;
  return (discType & 0x40) != 0 ? mtCDRW : mtCDR;
}

[[nodiscard]] bool IsVolumeDescriptor(std::span<const std::uint8_t> Sector, std::uint8_t Type) {
  constexpr std::string_view kStandardIdentifier = "CD001";
  return Sector[0] == Type &&
         std::equal(kStandardIdentifier.begin(), kStandardIdentifier.end(), Sector.begin() + 1);
}

}  // namespace

TMedium ProfileMedium(std::uint16_t Profile) {
  for (const TProfileMedium& entry : kProfiles)
    if (entry.Profile == Profile) return entry.Medium;
  return mtUNKNOWN;
}

std::string_view MediumName(TMedium Medium) {
  return Medium < std::size(kMediumNames) ? kMediumNames[Medium] : kMediumNames[mtUNKNOWN];
}

TMedium DiscIs(TSCSIDevice& Dev) {
  if (GetConfiguration(Dev, Dev.ConfigHeader, kCurrentProfileBytes, 0))
    return ProfileMedium(Dev.ConfigHeader.CurrentProfile);
  if (const std::optional<TMedium> fromAtip = MediumFromAtip(Dev)) return *fromAtip;
  if (ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes))
    return (Dev.DiscInformation.info & kErasableBit) != 0 ? mtCDRW : mtCDR;
  return TestUnitReady(Dev) ? mtCDROM : mtUNKNOWN;
}

bool ReadCapabilities(TSCSIDevice& Dev) {
  Dev.ModePage2A = {};
  Dev.dc = {};
  Dev.MaxReadSpeed = Dev.CurReadSpeed = Dev.MaxWriteSpeed = Dev.CurWriteSpeed = 0;
  const std::span<std::uint8_t> buffer(Dev.tmpBuffer);
  if (!ModeSense10(Dev, buffer, kCapabilitiesReplyBytes, true, kCapabilitiesPage)) return false;
  const TModePage2A defaults = DecodeCapabilitiesPage(Dev);
  TModePage2A page = ModeSense10(Dev, buffer, kCapabilitiesReplyBytes, false, kCapabilitiesPage)
                         ? DecodeCapabilitiesPage(Dev)
                         : defaults;
  page.DeviceMaxReadSpeed = defaults.MaxReadSpeed;
  page.DeviceMaxWriteSpeed = defaults.MaxWriteSpeed;
  Dev.ModePage2A = page;
  Dev.MaxReadSpeed = page.MaxReadSpeed;
  Dev.CurReadSpeed = page.CurReadSpeed;
  Dev.MaxWriteSpeed = page.MaxWriteSpeed;
  Dev.CurWriteSpeed = page.CurWriteSpeed;
  SetFlagsFromPage(Dev.dc, page);
  if (ModeSense10(Dev, buffer, kCapabilitiesReplyBytes, true, kVendorUnderrunPage))
    Dev.dc.UnderRunProtection = true;
  ProbeFeatures(Dev);
  return true;
}

bool DeviceCan(TSCSIDevice& Dev, std::uint8_t DeviceCapabilityID) {
  const TDC& dc = Dev.dc;
  switch (DeviceCapabilityID) {
    case DC_READ_CDR: return dc.Read_CDR;
    case DC_READ_CDRW: return dc.Read_CDRW;
    case DC_READ_DVDRAM: return dc.Read_DVDRAM;
    case DC_READ_DVDR: return dc.Read_DVDR;
    case DC_READ_DVDRW: return dc.Read_DVDRW;
    case DC_READ_DVDPLUSR: return dc.Read_DVDPLUSR;
    case DC_READ_DVDPLUSRW: return dc.Read_DVDPLUSRW;
    case DC_READ_DVDPLUSRDL: return dc.Read_DVDPLUSRDL;
    case DC_READ_HDDVDROM: return dc.Read_HDDVDROM;
    case DC_READ_HDDVDR: return dc.Read_HDDVDR;
    case DC_READ_HDDVDRAM: return dc.Read_HDDVDRAM;
    case DC_READ_BDROM: return dc.Read_BDROM;
    case DC_READ_BDR: return dc.Read_BDR;
    case DC_READ_BDRE: return dc.Read_BDRE;
    case DC_WRITE_CDR: return dc.Write_CDR;
    case DC_WRITE_CDRW: return dc.Write_CDRW;
    case DC_WRITE_DVDRAM: return dc.Write_DVDRAM;
    case DC_WRITE_DVDR: return dc.Write_DVDR;
    case DC_WRITE_DVDRW: return dc.Write_DVDRW;
    case DC_WRITE_DVDPLUSR: return dc.Write_DVDPLUSR;
    case DC_WRITE_DVDPLUSRW: return dc.Write_DVDPLUSRW;
    case DC_WRITE_DVDPLUSRDL: return dc.Write_DVDPLUSRDL;
    case DC_WRITE_HDDVDR: return dc.Write_HDDVDR;
    case DC_WRITE_HDDVDRAM: return dc.Write_HDDVDRAM;
    case DC_WRITE_BDR: return dc.Write_BDR;
    case DC_WRITE_BDRE: return dc.Write_BDRE;
    case DC_TEST_WRITE: return dc.TestWrite;
    case DC_UNDERRUNPROTECTION: return dc.UnderRunProtection;
    case DC_OPEN_LOG: return Dev.fdbg.Open(DefaultCommandLogPath());
    case DC_CLOSE_LOG: return Dev.fdbg.Close();
    default: return false;
  }
}

bool DeviceIsBurner(const TSCSIDevice& Dev) { return Dev.ModePage2A.WriteInfo != 0; }

bool Erasable(TSCSIDevice& Dev) {
  if (IsAnyOf(DiscIs(Dev), {mtDVDRAM, mtDVDRW, mtDVDRWRO, mtDVDRWSR, mtDVDPLUSRW})) return true;
  return ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes) &&
         (Dev.DiscInformation.info & kErasableBit) != 0;
}

bool Writable(TSCSIDevice& Dev) {
  const TMedium medium = DiscIs(Dev);
  if (IsAnyOf(medium, {mtDVDRAM, mtDVDPLUSRW, mtDVDRWRO, mtBDRE})) return true;
  if (ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes)) {
    const std::uint8_t discStatus = Dev.DiscInformation.info & 0x03;
    if (discStatus == 0 || discStatus == 1) return true;
    if (discStatus == 2) return false;
  }
  SetWriteParameters(Dev, Dev.TestWrite, Dev.BurnProof, false, medium);
  const bool found =
      ReadTrackInformation(Dev, kInvisibleTrack) ||
      ReadTrackInformation(Dev, std::uint32_t{Dev.DiscInformation.LastTrackOfLastSession} + 1);
  return found && Dev.TrackInformation.FreeBlocks != 0;
}

std::int32_t SessionsOnDisc(TSCSIDevice& Dev) {
  if (!ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes))
    return DiscIs(Dev) == mtDVDRAM ? 1 : 0;
  TDiscInformation& info = Dev.DiscInformation;
  const bool lastSessionEmpty = (info.info & 0x0C) == 0;
  if (lastSessionEmpty && info.Sessions > 0) --info.Sessions;
  return info.Sessions;
}

std::uint16_t LastTrackNumber(TSCSIDevice& Dev) {
  if (!ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes)) return 0;
  return Dev.DiscInformation.LastTrackOfLastSession;
}

std::uint32_t ReadFormatCapacities(TSCSIDevice& Dev) {
  TFormatCapacities list;
  if (!ReadFormatCapacityList(Dev, list) || list.Count == 0) return 0;
  constexpr std::size_t kConsidered = 4;
  for (std::size_t i = 0; i < std::min(list.Count, kConsidered); ++i) {
    const TCapacityDescriptor& descriptor = list.Descriptors[i];
    if (descriptor.TypeByte == 0 && descriptor.Parameter == kBlockLength2048)
      return descriptor.Blocks;
  }
  // Without a medium the drive names its largest capacity, not the disc's.
  const bool noMedium = (list.Descriptors[0].TypeByte & 0x03) == kNoMediumDescriptor;
  return noMedium ? 0 : list.Descriptors[0].Blocks;
}

std::uint32_t ReadVolumeSpaceSize(TSCSIDevice& Dev) {
  SetWriteParameters(Dev, Dev.TestWrite, Dev.BurnProof, false, DiscIs(Dev));
  std::array<std::uint8_t, kSectorBytes> sector;
  std::optional<std::uint32_t> primary;
  for (std::uint32_t lba = kFirstVolumeDescriptor; lba <= kLastVolumeDescriptor; ++lba) {
    if (!Read10(Dev, lba, 1, sector) || Dev.LastTransferLength < kSectorBytes) continue;
    if (IsVolumeDescriptor(sector, 2)) return GetLE32(sector, 80);
    if (!primary && IsVolumeDescriptor(sector, 1)) primary = GetLE32(sector, 80);
  }
  return primary.value_or(0);
}

std::uint32_t QueryFreeBlocks(TSCSIDevice& Dev) {
  if (!Writable(Dev)) return 0;
  const TMedium medium = DiscIs(Dev);
  SetWriteParameters(Dev, false, false, false, medium);
  const bool overwritable = IsAnyOf(medium, {mtDVDRAM, mtDVDPLUSRW});
  if (!ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes) ||
      !ReadTrackInformation(Dev, Dev.DiscInformation.LastTrackOfLastSession))
    return overwritable ? ClampedDifference(ReadFormatCapacities(Dev), ReadVolumeSpaceSize(Dev))
                        : 0;
  const TTrackInformation& track = Dev.TrackInformation;
  if (track.TrackSize == kUnknownTrackSize) return 0;
  if (medium == mtDVDRWRO) return ClampedDifference(ReadFormatCapacities(Dev), track.TrackSize);
  if (IsAnyOf(medium, {mtDVDRAM, mtDVDPLUSRW, mtBDRE}))
    return ClampedDifference(track.TrackSize, ReadVolumeSpaceSize(Dev));
  return std::max(track.TrackSize, track.FreeBlocks);
}

std::uint32_t QueryTotalBlocks(TSCSIDevice& Dev) {
  SetWriteParameters(Dev, false, false, false, DiscIs(Dev));
  if (!ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes) ||
      !ReadTrackInformation(Dev, Dev.DiscInformation.LastTrackOfLastSession))
    return ReadFormatCapacities(Dev);
  const TTrackInformation& track = Dev.TrackInformation;
  const bool fixedPacket = (track.info2 & kFixedPacketBit) != 0;
  if (track.TrackSize == kUnknownTrackSize) return fixedPacket ? 0 : ReadFormatCapacities(Dev);
  if (fixedPacket) return ReadFormatCapacities(Dev);
  const std::uint64_t end = std::uint64_t{track.TrackSize} + track.TrackStartAddress;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(end, kUnknownTrackSize - 1));
}

namespace {

constexpr std::uint8_t kTrackBlank = 0x40;
constexpr std::uint8_t kLastRecordedAddressValid = 0x02;

// The sectors a recorded track holds: up to its last recorded address when
// the drive knows it, else its whole size.
[[nodiscard]] std::uint32_t RecordedLength(const TTrackInformation& Track) {
  if ((Track.Reserved2 & kLastRecordedAddressValid) && Track.LastRecordedAddress >= Track.TrackStartAddress)
    return Track.LastRecordedAddress - Track.TrackStartAddress + 1;
  return Track.TrackSize == kUnknownTrackSize ? 0 : Track.TrackSize;
}

}  // namespace

bool IsOverwritable(TMedium Medium) {
  return Medium == mtDVDPLUSRW || Medium == mtDVDRAM || Medium == mtBDRE || Medium == mtDVDRWRO ||
         Medium == mtHDDVDRAM;
}

TDiscState QueryDiscState(TSCSIDevice& Dev) {
  const TMedium medium = DiscIs(Dev);
  if (medium == mtUNKNOWN) return TDiscState::NoDisc;
  if (IsOverwritable(medium)) return TDiscState::Overwritable;
  if (!ReadDiscInformation(Dev, Dev.DiscInformation, kDiscInformationBytes)) return TDiscState::NoDisc;
  switch (Dev.DiscInformation.info & kDiscStatusMask) {
    case 0: return TDiscState::Blank;
    case 1: return TDiscState::Appendable;
    case 2: return TDiscState::Finalised;
    default: return TDiscState::Overwritable;
  }
}

std::string_view DiscStateName(TDiscState State) {
  switch (State) {
    case TDiscState::NoDisc: return "no disc";
    case TDiscState::Blank: return "blank";
    case TDiscState::Appendable: return "appendable";
    case TDiscState::Finalised: return "finalised";
    case TDiscState::Overwritable: return "overwritable";
  }
  return "";
}

std::vector<TSessionExtent> RecordedSessions(TSCSIDevice& Dev) {
  if (IsOverwritable(DiscIs(Dev))) {
    const std::uint32_t volume = ReadVolumeSpaceSize(Dev);
    if (volume == 0) return {};
    return {TSessionExtent{1, 0, volume}};
  }
  std::vector<TSessionExtent> sessions;
  const std::uint16_t lastTrack = LastTrackNumber(Dev);
  for (std::uint32_t track = 1; track <= lastTrack; ++track) {
    if (!ReadTrackInformation(Dev, track)) continue;
    const TTrackInformation& info = Dev.TrackInformation;
    const std::uint32_t length = RecordedLength(info);
    if ((info.info2 & kTrackBlank) || length == 0) continue;
    if (!sessions.empty() && sessions.back().Number == info.SessionNumber) {
      TSessionExtent& session = sessions.back();
      session.Length = info.TrackStartAddress + length - session.Start;
    } else {
      sessions.push_back({info.SessionNumber, info.TrackStartAddress, length});
    }
  }
  return sessions;
}

}  // namespace kilnor
