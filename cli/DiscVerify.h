#pragma once
// Reading files back from the selected drive's disc and comparing them with
// their sources, with a progress bar (share done, MiB, read speed), Ctrl-C
// as an abort, one line for every file that failed (its path, which side
// differs and why) and a summary line, shared by `burn --verify` and `verify`.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/KilnorPro.h"

namespace velmor::cli {

// What a verify found besides the files it read back.
struct TVerifyExtras {
  std::size_t Missing = 0;     // sources with no file on the disc
  std::size_t Unexpected = 0;  // files on the disc with no source
};

// Runs Start (the component's VerifyDisc or VerifyFiles) and shows the
// progress until the final event; then prints each failed file, named by
// PathOf(FileId), and the summary ("Verified 120 files: all match",
// "Verified 120 files: 1 differs, 2 missing"). Returns the exit code: a
// failure when anything differs, is missing or unexpected, or when the
// verify did not run to its end.
[[nodiscard]] int VerifyWithProgress(kilnor::TKilnorPro& Component, const std::function<bool()>& Start,
                                     const std::function<std::string(std::int32_t FileId)>& PathOf,
                                     const TVerifyExtras& Extras = {});

}  // namespace velmor::cli
