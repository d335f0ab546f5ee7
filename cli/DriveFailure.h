#pragma once
// How every subcommand reports a failure: the engine's error
// text, and for a drive error its sense key, code and qualifier with their
// standard meaning, e.g.
//   Hardware Error 14850 (sense 2/3A/02: medium not present, tray open)
#include <string_view>

#include "engine/KilnorPro.h"

namespace velmor::cli {

// Prints "velmor-cli: <What>: <the component's ErrorDescription>" (a What
// that is a sentence ending in a full stop is followed by a blank only) and
// returns the failure code.
int FailOnDrive(kilnor::TKilnorPro& Component, std::string_view What);

}  // namespace velmor::cli
