#pragma once
// The texts of the drive and speed lists, and the base speeds the speed list
// counts its factors in.
#include <QString>
#include <string>

#include "engine/device/DeviceTypes.h"

// The drive list's last item: write an image file instead of a disc.
inline const QString kImageFileItem = "ISOFile: Don't Burn, Save as ISO Image ...";

// A drive's item from its description "adapter:target:lun,letter: vendor
// product revision ": the text from the drive letter on, without the blank
// that ends the description.
[[nodiscard]] QString DriveItemText(const std::string& DeviceName);

// KB/s of factor 1 for the medium: DVD 1385, BD and HD DVD 4495.5, else
// (no medium, CD, double-density CD) 176.46.
[[nodiscard]] double BaseSpeed(kilnor::TMedium Medium);

// The whole factor of KBps over Base, ties to even.
[[nodiscard]] double SpeedFactor(double KBps, double Base);

// "16x (22,160 KB/s)".
[[nodiscard]] QString SpeedItemText(double KBps, double Base);
