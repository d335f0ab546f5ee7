#pragma once
// Path tables (ECMA-119 9.4) of the ISO 9660 tree and of the Joliet tree:
// one record per directory in PathTableEntries order (the root first, then
// by depth, parent number and identifier), in a little-endian (type L) and a
// big-endian (type M) copy. A directory's identifier is the one its record
// in the parent directory carries.
#include <cstdint>

#include "engine/image/ByteWriter.h"
#include "engine/image/Directories.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

enum class TByteOrder { Little, Big };

[[nodiscard]] std::uint32_t PathTableBytes(const TCDFiles& cd, TTree tree);

void WritePathTable(TByteWriter& out, const TCDFiles& cd, TTree tree, TByteOrder order);

}  // namespace kilnor
