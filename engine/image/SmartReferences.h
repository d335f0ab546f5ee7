#pragma once
// Smart references: files of identical content are recorded once. Only
// candidates that share their size with another are read; those are hashed,
// on several threads, and two with one digest are compared byte for byte
// before the later one (in size order, then compilation order) takes the
// earlier one as its ReferenceEntry. The layout then gives both one extent
// and the stream skips the referencing entry.
#include <cstdint>
#include <vector>

#include "engine/image/TreeTypes.h"

namespace kilnor {

// The files that may share data, in compilation order: a source (a path or
// a data callback), a size above 0; neither folders nor imported entries.
[[nodiscard]] std::vector<pFileEntry> SmartReferenceCandidates(const TCDFiles& CDFiles);

// Sectors of the candidates, each rounded up to whole sectors.
[[nodiscard]] std::uint32_t CandidateSectors(const std::vector<pFileEntry>& Candidates);

struct TSmartReferenceOutcome {
  bool Aborted = false;
  std::uint32_t ReferencesMade = 0;
  std::uint64_t SavedBytes = 0;  // whole sectors the new references need not record
};

// Runs the pass on the calling thread and up to Threads - 1 more. Progress
// goes into CDFiles.SmartReferencesProgress and ends equal to
// SmartReferencesSize; the bytes saved go into SmartReferencesSaved as they
// are won. CDFiles.Aborted stops it between pieces; the references made so
// far stay. References and digests of earlier runs are kept; a source that
// cannot be read in full keeps its own data and is no fault.
[[nodiscard]] TSmartReferenceOutcome GenerateReferences(TCDFiles& CDFiles, unsigned Threads);

}  // namespace kilnor
