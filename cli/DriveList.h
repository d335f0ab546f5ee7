#pragma once
// The recorders the engine finds, as "index: description" lines.
#include <iosfwd>
#include <string>

#include "engine/KilnorPro.h"

namespace velmor::cli {

// Enumerates the drives (pass-through first, else the ASPI library at
// AspiPath, the default one when empty), with every command logged to
// LogPath when it is not empty. False, with Error set, when no transport
// could be set up at all or the log could not be created.
[[nodiscard]] bool StartDrives(kilnor::TKilnorPro& Component, const std::string& AspiPath,
                               const std::string& LogPath, std::string& Error);

// StartDrives, then one line per drive.
[[nodiscard]] bool ListDrives(kilnor::TKilnorPro& Component, const std::string& AspiPath,
                              const std::string& LogPath, std::ostream& Out, std::string& Error);

}  // namespace velmor::cli
