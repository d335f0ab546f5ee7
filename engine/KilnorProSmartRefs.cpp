#include "engine/KilnorPro.h"

namespace kilnor {

bool TKilnorPro::GenerateSmartReferences() { return false; }

}  // namespace kilnor
