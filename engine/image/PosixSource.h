#pragma once
// The POSIX attributes of a source item as its file system keeps them, for
// the Rock Ridge fields of its record.
#include <string_view>

#include "engine/image/TreeTypes.h"

namespace kilnor {

// Mode, links, owners, serial number and the three times of the item at
// `path`, and for a symbolic link its target; with followLinks, those of what
// a link leads to. Null where the platform keeps none or the item cannot be
// looked at (it is then recorded with defaults).
[[nodiscard]] TPosixAttributesPtr ReadPosixAttributes(std::u16string_view path, bool followLinks);

// The same from the status a folder search already read (`known`, the item's
// own), looking at the item again only where that status is not the one
// wanted: none known, or a link to be followed.
[[nodiscard]] TPosixAttributesPtr PosixAttributesOf(const TItemStatus* known, std::u16string_view path,
                                                    bool followLinks);

}  // namespace kilnor
