#pragma once
// Building a compilation from command-line paths and printing it, shared by
// the subcommands that take files and folders.
#include <iosfwd>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Arguments.h"
#include "engine/KilnorPro.h"

namespace velmor::cli {

// Starts a new compilation and inserts each path the way the desktop shell
// does: a file at the root, a folder recursively as a folder of the same
// name. On failure returns false with Error naming the path and the reason.
[[nodiscard]] bool BuildCompilation(kilnor::TKilnorPro& Component,
                                    const std::vector<std::string>& Paths, std::string& Error);

// The layout options of the subcommands that record a compilation.
inline const std::set<std::string_view> kLayoutValueOptions{"--volume-id", "--boot"};
inline const std::set<std::string_view> kLayoutFlagOptions{"--no-joliet", "--iso9660-1999", "--udf"};

// Applies the layout options; false with Error when one is refused.
[[nodiscard]] bool ApplyLayoutOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                      std::string& Error);

// Prints the tree: one line per entry, indented by depth, with its long name,
// its ISO 9660 short name and (files) its size; then a line of totals.
void PrintCompilation(const kilnor::TKilnorPro& Component, std::ostream& Out);

}  // namespace velmor::cli
