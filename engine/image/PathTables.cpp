#include "engine/image/PathTables.h"

#include "engine/image/Identifiers.h"

namespace kilnor {
namespace {

// ECMA-119 9.4: 8 bytes up to the identifier, padded to an even length.
constexpr std::uint32_t kPathRecordHeadBytes = 8;

std::uint32_t IdentifierBytes(const TDirEntry& dir, TTree tree) {
  if (dir.OwnEntry == nullptr) return 1;  // the root: one zero byte
  return tree == TTree::ISO ? static_cast<std::uint32_t>(dir.OwnEntry->IdentifierISO.size())
                            : static_cast<std::uint32_t>(2 * JolietIdentifier(*dir.OwnEntry).size());
}

void Put16(TByteWriter& out, std::uint16_t value, TByteOrder order) {
  order == TByteOrder::Little ? out.put_le16(value) : out.put_be16(value);
}
void Put32(TByteWriter& out, std::uint32_t value, TByteOrder order) {
  order == TByteOrder::Little ? out.put_le32(value) : out.put_be32(value);
}

}  // namespace

std::uint32_t PathTableBytes(const TCDFiles& cd, TTree tree) {
  std::uint32_t bytes = 0;
  for (const TDirEntry* dir : cd.PathTableEntries) {
    const std::uint32_t id = IdentifierBytes(*dir, tree);
    bytes += kPathRecordHeadBytes + id + id % 2;
  }
  return bytes;
}

void WritePathTable(TByteWriter& out, const TCDFiles& cd, TTree tree, TByteOrder order) {
  for (const TDirEntry* dir : cd.PathTableEntries) {
    const std::uint32_t id = IdentifierBytes(*dir, tree);
    out.put_u8(static_cast<std::uint8_t>(id));
    out.put_u8(0);
    Put32(out, DirectorySector(cd, *dir, tree), order);
    Put16(out, dir->Parent->number, order);
    if (dir->OwnEntry == nullptr)
      out.put_u8(0);
    else if (tree == TTree::ISO)
      out.put_text(dir->OwnEntry->IdentifierISO);
    else
      out.put_ucs2(JolietIdentifier(*dir->OwnEntry));
    out.put_zeros(id % 2);
  }
}

}  // namespace kilnor
