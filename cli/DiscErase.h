#pragma once
// Erasing the selected drive's disc with a progress bar, shared by the
// subcommands that erase.
#include "engine/KilnorPro.h"

namespace velmor::cli {

// Erases the disc (quickly or fully) at the highest speed and waits for the
// end with a progress bar. True when the erase succeeded; otherwise the
// reason is pending in the component (FailOnDrive prints it).
[[nodiscard]] bool EraseWithProgress(kilnor::TKilnorPro& Component, bool Quick);

}  // namespace velmor::cli
