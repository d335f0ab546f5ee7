#pragma once
// The identifiers recorded for the entries of a directory. The compilation
// keeps the names it was given; the layout derives from them identifiers that
// fit the records and are unique within each directory:
// - ISO 9660 tree: the short name with ASCII letters upper-cased (or, for the
//   ISO 9660:1999 variant, the long name in UTF-8, case kept, at most 207
//   bytes); a name that collides with an earlier one of the directory gets a
//   short numbered tail ("MY LONG DO~1.").
// - Joliet tree: the long name with control characters and bytes that were
//   not UTF-8 replaced (RecordableName), shortened to 110 characters when
//   longer, keeping its extension and never splitting a surrogate pair.
// ISO 9660 uniqueness ignores the case of ASCII letters, as the readers do;
// Joliet names keep their case where the source's names are case-sensitive.
#include <cstddef>
#include <string_view>

#include "engine/image/TreeTypes.h"

namespace kilnor {

inline constexpr std::size_t kMaxJolietNameUnits = 110;
inline constexpr std::size_t kMaxIsoIdentifierBytes = 31;
inline constexpr std::size_t kMaxIso1999IdentifierBytes = 207;
// With Rock Ridge a record keeps room for a continuation field (28 bytes)
// beside its identifier.
inline constexpr std::size_t kMaxIso1999IdentifierBytesWithRockRidge = 193;

// Fills IdentifierISO and IdentifierJoliet of every entry in the directory's list.
void ChooseIdentifiers(const TDirEntry& dir, bool iso9660v1999, bool rockRidge);

// The Joliet identifier an entry is recorded with.
[[nodiscard]] inline std::u16string_view JolietIdentifier(const TFileEntry& entry) {
  const std::u16string& chosen = entry.Extras.get().IdentifierJoliet;
  return chosen.empty() ? std::u16string_view(entry.LongName) : std::u16string_view(chosen);
}

// Re-links the directory's list in the order of directory records and
// path-table records (ECMA-119 9.3, 6.9.1) of IdentifierISO: name part, then
// extension, each compared as if padded with spaces (LastFile follows, so
// later inserts still append).
void SortEntries(TDirEntry& dir);

}  // namespace kilnor
