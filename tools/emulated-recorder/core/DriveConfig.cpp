#include "DriveConfig.h"

#include <algorithm>

namespace velmor::emu {

bool TDriveConfig::CanWrite(TMediumKind Kind) const {
  if (Kind == TMediumKind::DvdRwRestricted) Kind = TMediumKind::DvdRwSequential;
  return std::find(Writes.begin(), Writes.end(), Kind) != Writes.end();
}

bool TDriveConfig::ReadsFamily(TFamily Family) const {
  return std::any_of(Writes.begin(), Writes.end(),
                     [&](TMediumKind kind) { return Traits(kind).Family == Family; }) ||
         Family == TFamily::Cd;
}

bool TDriveConfig::CanRead(TMediumKind Kind) const {
  // A drive reads every medium of the families it writes, and every CD.
  return CanWrite(Kind) || ReadsFamily(Traits(Kind).Family);
}

const TSpeeds& TDriveConfig::SpeedsFor(TFamily Family) const {
  static const TSpeeds kNone{{176}, {176}};
  auto found = Speeds.find(Family);
  if (found != Speeds.end() && !found->second.Read.empty() && !found->second.Write.empty())
    return found->second;
  auto cd = Speeds.find(TFamily::Cd);
  return cd != Speeds.end() && !cd->second.Read.empty() && !cd->second.Write.empty() ? cd->second
                                                                                      : kNone;
}

TDriveConfig TDriveConfig::Default() {
  TDriveConfig config;
  for (const auto& traits : AllMediumKinds())
    if (traits.Recording != TRecording::ReadOnly && traits.Kind != TMediumKind::DvdRwRestricted)
      config.Writes.push_back(traits.Kind);
  // Multiples of each family's 1x: CD 176.4, DVD 1385, BD and HD DVD 4495.5 KB/s.
  config.Speeds[TFamily::Cd] = {{7056, 5645, 4234}, {8467, 7056, 4234, 1764}};
  config.Speeds[TFamily::Dvd] = {{22160, 16620, 11080}, {22160, 16620, 11080, 5540, 2770}};
  config.Speeds[TFamily::Bd] = {{35964, 26973, 17982}, {53946, 35964, 17982, 8991}};
  config.Speeds[TFamily::HdDvd] = {{26973, 17982}, {17982, 8991, 4496}};
  return config;
}

}  // namespace velmor::emu
