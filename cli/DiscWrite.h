#pragma once
// Recording on the selected drive's disc with a progress bar, shared by the
// subcommands that burn: the speed and recording options, the refusal of a
// disc that already holds data, the progress (share done, MiB, speed as a
// factor of the medium's 1x, drive buffer fill, time left), Ctrl-C as an
// abort, and the engine's reason on failure.
#include <functional>
#include <string>
#include <string_view>

#include "cli/Arguments.h"
#include "engine/KilnorPro.h"

namespace velmor::cli {

inline const TOptionNames kBurnValueOptions{"--speed"};
inline const TOptionNames kBurnFlagOptions{"--test", "--finalize", "--eject"};
inline constexpr std::string_view kBurnHelp =
    "  --speed X|max   write at X times the medium's base speed (default max)\n"
    "  --test          simulate the burn (CD, DVD-R, DVD-RW only); nothing is recorded\n"
    "  --finalize      close the disc: no further session can be added\n"
    "  --eject         open the tray when the burn succeeded";

// Applies --speed, --test and --finalize; false with Error when --speed is
// not a factor or "max".
[[nodiscard]] bool ApplyBurnOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                    std::string& Error);

// A message naming --append (and erase on a rewritable disc) when the disc
// in the drive already holds data; empty for a disc that can take a first
// session.
[[nodiscard]] std::string DiscHoldsData(kilnor::TKilnorPro& Component);

// For --append: when the disc holds data, imports its last session into the
// compilation, so the new session shows the earlier files beside the new
// ones (a new file of the same name wins). False with Error when the
// session cannot be read; nothing was added then.
[[nodiscard]] bool ImportLastSession(kilnor::TKilnorPro& Component, std::string& Error);

// Runs Start (the component's Burn or BurnISOImage) and shows the progress
// until the burn reports; ejects after success when --eject (unless --verify
// is to read the disc first). Returns the exit code. What names the burn in
// messages.
[[nodiscard]] int BurnWithProgress(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                   const std::string& What, const std::function<bool()>& Start);

// Opens the tray when --eject was given; the exit code.
[[nodiscard]] int EjectIfAsked(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed);

}  // namespace velmor::cli
