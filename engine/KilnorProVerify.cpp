#include "engine/KilnorPro.h"

namespace kilnor {

bool TKilnorPro::VerifyDisc(bool, bool) { return false; }

}  // namespace kilnor
