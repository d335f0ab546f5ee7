#pragma once
// The texts of the drive and speed lists.
#include <QString>
#include <string>


// The drive list's last item: write an image file instead of a disc.
inline const QString kImageFileItem = "ISOFile: Don't Burn, Save as ISO Image ...";

// A drive's item from its description "adapter:target:lun,letter: vendor
// product revision ": the text from the drive letter on, without the blank
// that ends the description.
[[nodiscard]] QString DriveItemText(const std::string& DeviceName);

// The whole factor of KBps over Base, ties to even.
[[nodiscard]] double SpeedFactor(double KBps, double Base);

// "16x (22,160 KB/s)".
[[nodiscard]] QString SpeedItemText(double KBps, double Base);
