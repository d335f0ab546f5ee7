#pragma once
// A recorded session's tree as the import read it: the volume label, one
// line per entry with its size and path, the totals, and what was left out.
#include <ostream>

#include "engine/KilnorPro.h"

namespace velmor::cli {

void PrintListing(const kilnor::TKilnorPro& kp, std::ostream& out);

}  // namespace velmor::cli
