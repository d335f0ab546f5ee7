#pragma once
// Writing a prepared compilation to an image file with a progress bar, shared
// by the subcommands that build images.
#include <string>

#include "engine/KilnorPro.h"

namespace velmor::cli {

// Writes the prepared compilation of Component to Output, showing the sectors
// written. The image appears under Output only when complete; Ctrl-C, SIGTERM
// and SIGHUP abort the write, and a failed or aborted write leaves whatever
// stood at Output as it was. Returns the exit code.
[[nodiscard]] int WriteImageFile(kilnor::TKilnorPro& Component, const std::string& Output);

// A path as messages show it: in double quotes, so that a backslash or a
// space in it does not read like part of the message.
[[nodiscard]] std::string QuotedPath(const std::string& Path);
// A wide path or name as a terminal may show it: control characters as '?'
// and bytes that were not UTF-8 as U+FFFD, so nothing in it acts on the
// terminal; QuotedPath puts it in double quotes.
[[nodiscard]] std::string PrintableText(std::u16string_view Text);
[[nodiscard]] std::string QuotedPath(std::u16string_view Path);

}  // namespace velmor::cli
