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

std::vector<std::uint8_t> Bytes4(std::uint8_t A, std::uint8_t B = 0, std::uint8_t C = 0, std::uint8_t D = 0) {
  return {A, B, C, D};
}

// The features of one drive with one medium (or none), in feature order.
class TFeatureList {
 public:
  TFeatureList(const TDriveConfig& Config, const TMediumLayout* Medium, bool Locked)
      : Config(Config), Medium(Medium), Locked(Locked) {}

  [[nodiscard]] std::vector<TFeature> Build() {
    ProfileList();
    DriveWide();
    Reading();
    Recording();
    CdAndDvdRecording();
    HighDefinition();
    features.push_back({0x0100, 0, true, true, {}});           // power management
    features.push_back({0x0107, 3, false, true, Bytes4(0x1F)});  // real-time streaming
    return std::move(features);
  }

 private:
  [[nodiscard]] bool Is(std::initializer_list<TMediumKind> Kinds) const {
    return Medium && std::find(Kinds.begin(), Kinds.end(), Medium->Kind()) != Kinds.end();
  }
  [[nodiscard]] bool InFamily(TFamily Family) const { return Medium && Medium->Info().Family == Family; }
  [[nodiscard]] bool Writable() const { return Medium && Config.CanWrite(Medium->Kind()); }
  [[nodiscard]] bool Writes(std::initializer_list<TMediumKind> Kinds) const {
    return std::any_of(Kinds.begin(), Kinds.end(), [&](TMediumKind kind) { return Config.CanWrite(kind); });
  }

  void ProfileList() {
    std::vector<std::uint16_t> profiles;
    for (const auto& traits : AllMediumKinds())
      if (traits.Recording != TRecording::ReadOnly && Config.CanWrite(traits.Kind)) profiles.push_back(traits.Profile);
    for (TFamily family : {TFamily::Cd, TFamily::Dvd, TFamily::Bd, TFamily::HdDvd})
      if (Config.ReadsFamily(family)) profiles.push_back(RomProfileOf(family));
    std::sort(profiles.begin(), profiles.end(), std::greater<>());
    profiles.erase(std::unique(profiles.begin(), profiles.end()), profiles.end());
    const std::uint16_t current = Medium ? Medium->Info().Profile : 0;
    TFeature list{0x0000, 0, true, true, {}};
    for (std::uint16_t profile : profiles) {
      list.Data.push_back(static_cast<std::uint8_t>(profile >> 8));
      list.Data.push_back(static_cast<std::uint8_t>(profile));
      list.Data.push_back(profile == current ? 1 : 0);
      list.Data.push_back(0);
    }
    features.push_back(std::move(list));
  }

  void DriveWide() {
    features.push_back({0x0001, 2, true, true, {0, 0, 0, 2, 0x03, 0, 0, 0}});  // core: ATAPI
    features.push_back({0x0002, 1, true, true, Bytes4(0x02)});                 // morphing
    features.push_back({0x0003, 0, true, true, Bytes4(static_cast<std::uint8_t>(0x29 | (Locked ? 0x04 : 0)))});
  }

  void Reading() {
    const std::uint16_t blocking = Medium && !InFamily(TFamily::Cd) ? Medium->Info().BlockAlignment : 1;
    features.push_back({0x0010, 0, false, Medium != nullptr,
                        {0, 0, 0x08, 0, static_cast<std::uint8_t>(blocking >> 8),
                         static_cast<std::uint8_t>(blocking), 0x01, 0}});
    features.push_back({0x001D, 0, false, InFamily(TFamily::Cd), {}});
    features.push_back({0x001E, 2, false, InFamily(TFamily::Cd), Bytes4(0x00)});
    if (Config.ReadsFamily(TFamily::Dvd))
      features.push_back({0x001F, 1, false, InFamily(TFamily::Dvd), Bytes4(0x01, 0, 0x02)});
  }

  // Random, incremental and formatting features.
  void Recording() {
    if (Writes({DvdPlusRw, DvdRam, BdRe, HdDvdRam, DvdRwSequential})) {
      const bool current = Writable() && Is({DvdPlusRw, DvdRam, BdRe, HdDvdRam, DvdRwRestricted});
      const std::uint32_t last = current && Medium->FormattedBlocks() > 0 ? Medium->FormattedBlocks() - 1 : 0;
      features.push_back({0x0020, 0, false, current,
                          {static_cast<std::uint8_t>(last >> 24), static_cast<std::uint8_t>(last >> 16),
                           static_cast<std::uint8_t>(last >> 8), static_cast<std::uint8_t>(last), 0, 0, 0x08, 0,
                           0, 16, 0x01, 0}});
    }
    if (Writes({CdR, CdRw, DvdR, DvdRwSequential})) {
      const std::uint8_t link = InFamily(TFamily::Dvd) ? 16 : 7;
      features.push_back({0x0021, 1, false, Writable() && Is({CdR, CdRw, DvdR, DvdRwSequential}),
                          {0x01, 0x00, 0x01, 1, link, 0, 0, 0}});
    }
    if (Writes({DvdPlusRw, DvdRam, BdRe, HdDvdRam, DvdRwSequential}))
      features.push_back({0x0023, 0, false, Writable() && Medium->Info().Formattable, {0, 0, 0, 0, 0, 0, 0, 0}});
    if (Writes({DvdRam, BdRe, HdDvdRam}))
      features.push_back({0x0024, 0, false, Writable() && Is({DvdRam, BdRe, HdDvdRam}), Bytes4(0x80)});
    if (Writes({DvdRwSequential})) features.push_back({0x0026, 0, false, Writable() && Is({DvdRwRestricted}), {}});
  }

  void CdAndDvdRecording() {
    if (Config.ReadsFamily(TFamily::Dvd)) {
      features.push_back({0x002A, 0, false, Is({DvdPlusRw}), Bytes4(Writes({DvdPlusRw}) ? 0x01 : 0x00, 0x03)});
      features.push_back({0x002B, 0, false, Is({DvdPlusR}), Bytes4(Writes({DvdPlusR}) ? 0x01 : 0x00)});
    }
    if (Writes({CdR, CdRw})) {
      const auto cdBits = static_cast<std::uint8_t>(0x40 | 0x04 | (Writes({CdRw}) ? 0x02 : 0));
      features.push_back({0x002D, 2, false, Writable() && Is({CdR, CdRw}), Bytes4(cdBits, 0, 0x00, 0x01)});
      features.push_back({0x002E, 1, false, Writable() && Is({CdR, CdRw}), Bytes4(cdBits | 0x20, 0x00, 0xFF, 0xFF)});
    }
    if (Writes({DvdR, DvdRwSequential})) {
      const auto dvdBits = static_cast<std::uint8_t>(0x40 | 0x04 | (Writes({DvdRwSequential}) ? 0x02 : 0));
      features.push_back({0x002F, 1, false, Writable() && Is({DvdR, DvdRwSequential}), Bytes4(dvdBits)});
    }
    if (Config.ReadsFamily(TFamily::Dvd))
      features.push_back({0x003B, 0, false, Is({DvdPlusRDl}), Bytes4(Writes({DvdPlusRDl}) ? 0x01 : 0x00)});
  }

  // BD and HD DVD.
  void HighDefinition() {
    if (Config.ReadsFamily(TFamily::Bd)) {
      TFeature read{0x0040, 1, false, InFamily(TFamily::Bd), std::vector<std::uint8_t>(28, 0)};
      read.Data[9] = 0x02;   // BD-RE class 0, version 1
      read.Data[17] = 0x02;  // BD-R class 0, version 1
      read.Data[25] = 0x02;  // BD-ROM class 0, version 1
      features.push_back(std::move(read));
    }
    if (Writes({BdR, BdRe})) {
      TFeature write{0x0041, 1, false, Writable() && InFamily(TFamily::Bd), std::vector<std::uint8_t>(24, 0)};
      write.Data[9] = Writes({BdRe}) ? 0x02 : 0;
      write.Data[17] = Writes({BdR}) ? 0x02 : 0;
      features.push_back(std::move(write));
    }
    if (Config.ReadsFamily(TFamily::HdDvd))
      features.push_back({0x0050, 0, false, InFamily(TFamily::HdDvd), Bytes4(0x01, 0, 0x01)});
    if (Writes({HdDvdR, HdDvdRam}))
      features.push_back({0x0051, 0, false, Writable() && InFamily(TFamily::HdDvd),
                          Bytes4(Writes({HdDvdR}) ? 0x01 : 0, 0, Writes({HdDvdRam}) ? 0x01 : 0)});
  }

  const TDriveConfig& Config;
  const TMediumLayout* Medium;
  bool Locked;
  std::vector<TFeature> features;
};

void AppendFeature(TReply& Reply, const TFeature& Feature) {
  const std::size_t at = Reply.Size();
  Reply.Put16(at, Feature.Code)
      .Put8(at + 2, static_cast<std::uint8_t>(Feature.Version << 2 | (Feature.Persistent ? 2 : 0) |
                                              (Feature.Current ? 1 : 0)))
      .Put8(at + 3, static_cast<std::uint8_t>(Feature.Data.size()));
  Reply.Append(Feature.Data);
}

}  // namespace

std::uint16_t TDrive::CurrentProfile() const {
  if (MediumAbsent()) return 0;
  return Loaded->Layout.Info().Profile;
}

TCommandResult TDrive::GetConfiguration(const TRequest& Request) {
  constexpr std::uint8_t kCurrent = 1, kOne = 2;  // request types; 0 asks for all
  const auto cdb = Request.Cdb;
  const std::uint8_t requestType = Byte(cdb, 1) & 0x03;
  const std::uint16_t startingFeature = Be16(cdb, 2);
  if (requestType > kOne) return Fail(sense::InvalidFieldInCdb());

  const std::uint16_t current = CurrentProfile();
  const TMediumLayout* medium = current != 0 ? &Loaded->Layout : nullptr;
  TReply reply(8);
  reply.Put16(6, current);
  for (const auto& feature : TFeatureList(Settings, medium, Locked).Build()) {
    const bool wanted = requestType == kOne       ? feature.Code == startingFeature
                        : requestType == kCurrent ? feature.Code >= startingFeature && feature.Current
                                                  : feature.Code >= startingFeature;
    if (wanted) AppendFeature(reply, feature);
  }
  reply.Put32(0, static_cast<std::uint32_t>(reply.Size() - 4));
  return Reply(Request, reply, Be16(cdb, 7));
}

}  // namespace velmor::emu
