// GET CONFIGURATION: the profiles the drive knows, the current one, and the
// feature descriptors that follow from them.
#include <algorithm>
#include <vector>

#include "Drive.h"

namespace velmor::emu {

namespace {

using enum TMediumKind;

struct TFeature {
  std::uint16_t Code;
  std::uint8_t Version;
  bool Persistent;
  bool Current;
  std::vector<std::uint8_t> Data;  // a multiple of four bytes
};

void AppendFeature(TReply& Reply, const TFeature& Feature) {
  const std::size_t at = Reply.Size();
  Reply.Put16(at, Feature.Code)
      .Put8(at + 2, static_cast<std::uint8_t>(Feature.Version << 2 | (Feature.Persistent ? 2 : 0) |
                                              (Feature.Current ? 1 : 0)))
      .Put8(at + 3, static_cast<std::uint8_t>(Feature.Data.size()));
  Reply.Append(Feature.Data);
}

// The profiles the drive reports, highest number first.
std::vector<std::uint16_t> DriveProfiles(const TDriveConfig& Config) {
  std::vector<std::uint16_t> profiles;
  for (const auto& traits : AllMediumKinds())
    if (Config.CanRead(traits.Kind) && (traits.Recording == TRecording::ReadOnly || Config.CanWrite(traits.Kind)))
      profiles.push_back(traits.Profile);
  for (TFamily family : {TFamily::Cd, TFamily::Dvd, TFamily::Bd, TFamily::HdDvd})
    if (Config.ReadsFamily(family)) profiles.push_back(RomProfileOf(family));
  std::sort(profiles.begin(), profiles.end(), std::greater<>());
  profiles.erase(std::unique(profiles.begin(), profiles.end()), profiles.end());
  return profiles;
}

std::vector<std::uint8_t> Bytes4(std::uint8_t A, std::uint8_t B = 0, std::uint8_t C = 0, std::uint8_t D = 0) {
  return {A, B, C, D};
}

}  // namespace

std::uint16_t TDrive::CurrentProfile() const {
  if (MediumAbsent()) return 0;
  return Loaded->Layout.Info().Profile;
}

TCommandResult TDrive::GetConfiguration(const TRequest& Request) {
  const auto cdb = Request.Cdb;
  const std::uint8_t requestType = Byte(cdb, 1) & 0x03;
  const std::uint16_t startingFeature = Be16(cdb, 2);
  if (requestType == 3) return Fail(sense::InvalidFieldInCdb());

  const std::uint16_t current = CurrentProfile();
  const TMediumTraits* medium = current != 0 ? &Loaded->Layout.Info() : nullptr;
  const auto kind = medium ? std::optional(medium->Kind) : std::nullopt;
  const auto is = [&](std::initializer_list<TMediumKind> kinds) {
    return kind && std::find(kinds.begin(), kinds.end(), *kind) != kinds.end();
  };
  const auto family = [&](TFamily f) { return medium && medium->Family == f; };
  const bool writable = kind && Settings.CanWrite(*kind);

  std::vector<TFeature> features;
  {
    TFeature list{0x0000, 0, true, true, {}};
    for (std::uint16_t profile : DriveProfiles(Settings)) {
      list.Data.push_back(static_cast<std::uint8_t>(profile >> 8));
      list.Data.push_back(static_cast<std::uint8_t>(profile));
      list.Data.push_back(profile == current ? 1 : 0);
      list.Data.push_back(0);
    }
    features.push_back(std::move(list));
  }
  features.push_back({0x0001, 2, true, true, {0, 0, 0, 2, 0x03, 0, 0, 0}});  // core: ATAPI
  features.push_back({0x0002, 1, true, true, Bytes4(0x02)});                 // morphing
  features.push_back({0x0003, 0, true, true, Bytes4(static_cast<std::uint8_t>(0x29 | (Locked ? 0x04 : 0)))});
  {
    const std::uint16_t blocking = medium && medium->Family != TFamily::Cd ? medium->BlockAlignment : 1;
    features.push_back({0x0010, 0, false, medium != nullptr,
                        {0, 0, 0x08, 0, static_cast<std::uint8_t>(blocking >> 8),
                         static_cast<std::uint8_t>(blocking), 0x01, 0}});
  }
  features.push_back({0x001D, 0, false, family(TFamily::Cd), {}});
  features.push_back({0x001E, 2, false, family(TFamily::Cd), Bytes4(0x00)});
  if (Settings.ReadsFamily(TFamily::Dvd)) features.push_back({0x001F, 1, false, family(TFamily::Dvd), Bytes4(0x01, 0, 0x02)});

  const bool writesOverwrite = Settings.CanWrite(DvdPlusRw) || Settings.CanWrite(DvdRam) ||
                               Settings.CanWrite(BdRe) || Settings.CanWrite(HdDvdRam) ||
                               Settings.CanWrite(DvdRwSequential);
  if (writesOverwrite) {
    const bool randomCurrent = writable && is({DvdPlusRw, DvdRam, BdRe, HdDvdRam, DvdRwRestricted});
    const std::uint32_t last = randomCurrent && Loaded->Layout.FormattedBlocks() > 0
                                   ? Loaded->Layout.FormattedBlocks() - 1
                                   : 0;
    TFeature random{0x0020, 0, false, randomCurrent, {}};
    random.Data = {static_cast<std::uint8_t>(last >> 24), static_cast<std::uint8_t>(last >> 16),
                   static_cast<std::uint8_t>(last >> 8), static_cast<std::uint8_t>(last), 0, 0, 0x08, 0, 0,
                   16, 0x01, 0};
    features.push_back(std::move(random));
  }
  const bool writesIncremental = Settings.CanWrite(CdR) || Settings.CanWrite(CdRw) || Settings.CanWrite(DvdR) ||
                                 Settings.CanWrite(DvdRwSequential);
  if (writesIncremental) {
    const std::uint8_t link = family(TFamily::Dvd) ? 16 : 7;
    features.push_back({0x0021, 1, false, writable && is({CdR, CdRw, DvdR, DvdRwSequential}),
                        {0x01, 0x00, 0x01, 1, link, 0, 0, 0}});
  }
  const bool writesFormattable = Settings.CanWrite(DvdPlusRw) || Settings.CanWrite(DvdRam) ||
                                 Settings.CanWrite(BdRe) || Settings.CanWrite(HdDvdRam) ||
                                 Settings.CanWrite(DvdRwSequential);
  if (writesFormattable)
    features.push_back({0x0023, 0, false, writable && medium && medium->Formattable, {0, 0, 0, 0, 0, 0, 0, 0}});
  if (Settings.CanWrite(DvdRam) || Settings.CanWrite(BdRe) || Settings.CanWrite(HdDvdRam))
    features.push_back({0x0024, 0, false, writable && is({DvdRam, BdRe, HdDvdRam}), Bytes4(0x80)});
  if (Settings.CanWrite(DvdRwSequential))
    features.push_back({0x0026, 0, false, writable && is({DvdRwRestricted}), {}});
  if (Settings.ReadsFamily(TFamily::Dvd)) {
    features.push_back({0x002A, 0, false, is({DvdPlusRw}),
                        Bytes4(Settings.CanWrite(DvdPlusRw) ? 0x01 : 0x00, 0x03)});
    features.push_back({0x002B, 0, false, is({DvdPlusR}), Bytes4(Settings.CanWrite(DvdPlusR) ? 0x01 : 0x00)});
  }
  if (Settings.CanWrite(CdR) || Settings.CanWrite(CdRw)) {
    const std::uint8_t cdBits = static_cast<std::uint8_t>(0x40 | 0x04 | (Settings.CanWrite(CdRw) ? 0x02 : 0));
    features.push_back({0x002D, 2, false, writable && is({CdR, CdRw}), Bytes4(cdBits, 0, 0x00, 0x01)});
    features.push_back({0x002E, 1, false, writable && is({CdR, CdRw}), Bytes4(cdBits | 0x20, 0x00, 0xFF, 0xFF)});
  }
  if (Settings.CanWrite(DvdR) || Settings.CanWrite(DvdRwSequential)) {
    const std::uint8_t dvdBits =
        static_cast<std::uint8_t>(0x40 | 0x04 | (Settings.CanWrite(DvdRwSequential) ? 0x02 : 0));
    features.push_back({0x002F, 1, false, writable && is({DvdR, DvdRwSequential}), Bytes4(dvdBits)});
  }
  if (Settings.ReadsFamily(TFamily::Dvd))
    features.push_back({0x003B, 0, false, is({DvdPlusRDl}), Bytes4(Settings.CanWrite(DvdPlusRDl) ? 0x01 : 0x00)});
  if (Settings.ReadsFamily(TFamily::Bd)) {
    TFeature read{0x0040, 1, false, family(TFamily::Bd), std::vector<std::uint8_t>(28, 0)};
    read.Data[9] = 0x02;   // BD-RE class 0, version 1
    read.Data[17] = 0x02;  // BD-R class 0, version 1
    read.Data[25] = 0x02;  // BD-ROM class 0, version 1
    features.push_back(std::move(read));
  }
  if (Settings.CanWrite(BdR) || Settings.CanWrite(BdRe)) {
    TFeature write{0x0041, 1, false, writable && family(TFamily::Bd), std::vector<std::uint8_t>(24, 0)};
    write.Data[9] = Settings.CanWrite(BdRe) ? 0x02 : 0;
    write.Data[17] = Settings.CanWrite(BdR) ? 0x02 : 0;
    features.push_back(std::move(write));
  }
  if (Settings.ReadsFamily(TFamily::HdDvd))
    features.push_back({0x0050, 0, false, family(TFamily::HdDvd), Bytes4(0x01, 0, 0x01)});
  if (Settings.CanWrite(HdDvdR) || Settings.CanWrite(HdDvdRam))
    features.push_back({0x0051, 0, false, writable && family(TFamily::HdDvd),
                        Bytes4(Settings.CanWrite(HdDvdR) ? 0x01 : 0, 0, Settings.CanWrite(HdDvdRam) ? 0x01 : 0)});
  features.push_back({0x0100, 0, true, true, {}});
  features.push_back({0x0107, 3, false, true, Bytes4(0x1F)});  // set CD speed, speeds in GET PERFORMANCE, streaming

  TReply reply(8);
  reply.Put16(6, current);
  for (const auto& feature : features) {
    const bool wanted = requestType == 2   ? feature.Code == startingFeature
                        : requestType == 1 ? feature.Code >= startingFeature && feature.Current
                                           : feature.Code >= startingFeature;
    if (wanted) AppendFeature(reply, feature);
  }
  reply.Put32(0, static_cast<std::uint32_t>(reply.Size() - 4));
  return Reply(Request, reply, Be16(cdb, 7));
}

}  // namespace velmor::emu
