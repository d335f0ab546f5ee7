#pragma once
// Writing a prepared compilation to an image file with a progress bar, shared
// by the subcommands that build images.
#include <string>

#include "engine/KilnorPro.h"

namespace velmor::cli {

// Writes the prepared compilation of Component to Output, showing the sectors
// written; Ctrl-C aborts and removes the partial image. Returns the exit code.
[[nodiscard]] int WriteImageFile(kilnor::TKilnorPro& Component, const std::string& Output);

}  // namespace velmor::cli
