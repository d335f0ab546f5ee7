#pragma once
// The drive a velmor-cli subcommand works on: --drive N of the drives the
// engine finds (0 by default), through --aspi LIBRARY when no pass-through
// drive answers, with every command logged to --log FILE when given.
#include <string>
#include <string_view>

#include "cli/Arguments.h"
#include "engine/KilnorPro.h"

namespace velmor::cli {

// The options every drive subcommand takes, and their help lines.
inline const TOptionNames kDriveOptions{"--drive", "--aspi", "--log"};
inline constexpr std::string_view kDriveSynopsis = "[--drive N] [--aspi LIBRARY] [--log FILE]";
inline constexpr std::string_view kDriveHelp =
    "  --drive N       the drive's index in 'velmor-cli drives' (default 0)\n"
    "  --aspi LIBRARY  ASPI library to use when no pass-through drive is found\n"
    "  --log FILE      write every drive command to FILE";

// Enumerates the drives and selects the one asked for. False, with Error
// set, when there is no such drive.
[[nodiscard]] bool SelectDriveOf(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                 std::string& Error);

// What a drive subcommand does once its drive is selected; its exit code.
using TDriveAction = int (*)(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed);

// Runs a drive subcommand that takes no file or folder: selects the drive,
// then runs `Action` on it. A file or folder among the arguments, or a drive
// that cannot be selected, ends it first.
[[nodiscard]] int RunOnSelectedDrive(const TParsedArguments& Parsed, std::string_view Command,
                                     TDriveAction Action);

// Prints a warning when writing the command log failed.
void ReportLogProblems(kilnor::TKilnorPro& Component);

}  // namespace velmor::cli
