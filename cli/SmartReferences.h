#pragma once
// The smart-reference pass of the subcommands that record a compilation
// (--smart-refs): files of identical content recorded once.
#include <string>

#include "cli/Arguments.h"
#include "engine/KilnorPro.h"

namespace velmor::cli {

inline constexpr std::string_view kSmartRefsFlag = "--smart-refs";
inline constexpr std::string_view kSmartRefsHelp =
    "  --smart-refs    record files of identical content once: each later copy\n"
    "                  shares the data of the first\n";

// With --smart-refs: runs the pass on the built compilation, before Prepare,
// with a progress bar; Ctrl-C aborts it. Prints each file that now shares
// another's data, then the count, the bytes saved and the time it took.
// False, with Error (the engine's text), when the pass failed; true at once
// without the flag.
[[nodiscard]] bool GenerateSmartReferencesOf(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                             std::string& Error);

}  // namespace velmor::cli
