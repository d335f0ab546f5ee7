#include "cli/DriveList.h"

#include <ostream>

namespace velmor::cli {

bool ListDrives(kilnor::TKilnorPro& Component, const std::string& AspiPath,
                const std::string& LogPath, std::ostream& Out, std::string& Error) {
  if (!Component.InitializeASPI(false, AspiPath, LogPath)) {
    Error = "no drive found: no pass-through drive answered and " +
            (AspiPath.empty() ? std::string("no ASPI library could be loaded")
                              : "the ASPI library '" + AspiPath + "' could not be used");
    return false;
  }
  if (Component.DeviceCount() == 0) Out << "no drives\n";
  for (std::uint16_t index = 0; index < Component.DeviceCount(); ++index) {
    Out << index << ": " << Component.GetDeviceName(static_cast<std::uint8_t>(index)) << '\n';
  }
  return true;
}

}  // namespace velmor::cli
