#pragma once
// The files of a recorded session paired with the sources that `burn` would
// record at their paths, for `verify`: the session's tree is imported into a
// component first, then the sources are laid out there the way `burn` lays
// them out, and each source file is looked up by the path its recorded
// (Joliet) names give it.
#include <map>
#include <string>
#include <vector>

#include "engine/KilnorPro.h"

namespace velmor::cli {

// A file of the recorded session.
struct TRecordedFile {
  std::uint32_t Sector = 0;
  std::uint64_t Bytes = 0;
  kilnor::TSystemTime Time;  // its recorded date, local time
};

// Every file of the tree imported into Component, by its path from the root
// ("/src/data/a.bin").
using TRecordedFiles = std::map<std::u16string, TRecordedFile>;
[[nodiscard]] TRecordedFiles RecordedFiles(const kilnor::TKilnorPro& Component);

struct TSourceMatch {
  std::vector<kilnor::TVerifyItem> Items;  // source files found on the disc
  std::vector<std::string> Missing;        // source files not on the disc (their source paths)
  std::vector<std::string> Unexpected;     // files on the disc no source stands for (their paths)
};

// Component holds the sources' compilation, prepared so that the recorded
// names are chosen; the items point at its entries.
[[nodiscard]] TSourceMatch MatchSources(kilnor::TKilnorPro& Component, const TRecordedFiles& Recorded);

}  // namespace velmor::cli
