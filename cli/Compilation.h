#pragma once
// Building a compilation from command-line paths and printing it, shared by
// the subcommands that take files and folders.
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Arguments.h"
#include "engine/KilnorPro.h"

namespace velmor::cli {

// Starts a new compilation and inserts each path the way the desktop shell
// does: a file at the root, a folder recursively as a folder of the same
// name. Two paths that would be recorded under one name at the root are
// refused, naming both, rather than merged. On failure returns false with
// Error naming the path and the reason. Items met but not recorded do not
// fail it; PrintLeftOut names them.
[[nodiscard]] bool BuildCompilation(kilnor::TKilnorPro& Component,
                                    const std::vector<std::string>& Paths, std::string& Error);

// The layout options of the subcommands that record a compilation.
inline const TOptionNames kLayoutValueOptions{"--volume-id", "--boot"};
inline const TOptionNames kLayoutFlagOptions{
    "--no-joliet", "--iso9660-1999", "--udf", "--skip-unsupported", "--no-rock-ridge", "--follow-links",
    "--public-attributes"};

// Applies the options that decide how items go in (Rock Ridge, links); they
// must be set before the compilation is built.
void ApplyTreeOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed);

// Applies the layout options; false with Error when one is refused.
[[nodiscard]] bool ApplyLayoutOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                      std::string& Error);

// Names every item the compilation left out, one line each with its reason;
// returns how many there were.
std::size_t PrintLeftOut(const kilnor::TKilnorPro& Component, std::ostream& Out);

// Names the left-out items on standard error; false, with Error, when there
// are any and --skip-unsupported was not given: nothing is recorded then.
[[nodiscard]] bool AcceptLeftOut(const kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                 std::string& Error);

// False, with Error, when Output is inside one of the folders among Paths:
// the image would be written into what is being recorded.
[[nodiscard]] bool CheckOutputOutsideInputs(const std::vector<std::string>& Paths, const std::string& Output,
                                            std::string& Error);

// Lays the compilation out (Prepare) with Sectors its size; false, with
// Error, when the layout is refused. Names the label and entries whose
// recorded names had to change (PrintChangedNames) on standard error.
[[nodiscard]] bool PrepareCompilation(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                                      std::uint32_t& Sectors, std::string& Error);

// After Prepare: names, once each, the label (as Label was given) and every
// entry whose recorded name had to be cut or changed, with the forms it is
// recorded under.
void PrintChangedNames(const kilnor::TKilnorPro& Component, const std::string& Label, std::ostream& Out);

// Prints the tree: one line per entry, indented by depth, with its long name,
// its ISO 9660 short name and (files) its size; then a line of totals.
void PrintCompilation(const kilnor::TKilnorPro& Component, std::ostream& Out);

}  // namespace velmor::cli
