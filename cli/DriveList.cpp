#include "cli/DriveList.h"

#include <filesystem>
#include <ostream>

namespace velmor::cli {

namespace {

// Why a command log could not be created at Path.
[[nodiscard]] std::string LogProblem(const std::string& Path) {
  std::error_code error;
  if (std::filesystem::is_directory(Path, error)) return "it is a folder";
  const std::filesystem::path folder = std::filesystem::path(Path).parent_path();
  const auto status = std::filesystem::status(folder.empty() ? "." : folder, error);
  if (status.type() == std::filesystem::file_type::not_found)
    return "the folder '" + folder.string() + "' does not exist";
  if (status.type() != std::filesystem::file_type::directory)
    return "'" + folder.string() + "' is not a folder";
  return "it cannot be written there";
}

}  // namespace

bool StartDrives(kilnor::TKilnorPro& Component, const std::string& AspiPath,
                 const std::string& LogPath, std::string& Error) {
  if (!Component.InitializeASPI(false, AspiPath, LogPath)) {
    Error = "no drive found: no pass-through drive answered and " +
            (AspiPath.empty() ? std::string("no ASPI library could be loaded")
                              : "the ASPI library '" + AspiPath + "' could not be used");
    return false;
  }
  if (!LogPath.empty() && !Component.CommandLogOpen()) {
    Error = "cannot create the command log '" + LogPath + "': " + LogProblem(LogPath);
    return false;
  }
  return true;
}

bool ListDrives(kilnor::TKilnorPro& Component, const std::string& AspiPath,
                const std::string& LogPath, std::ostream& Out, std::string& Error) {
  if (!StartDrives(Component, AspiPath, LogPath, Error)) return false;
  if (Component.DeviceCount() == 0) Out << "no drives\n";
  for (std::uint16_t index = 0; index < Component.DeviceCount(); ++index) {
    Out << index << ": " << Component.GetDeviceName(static_cast<std::uint8_t>(index)) << '\n';
  }
  return true;
}

}  // namespace velmor::cli
