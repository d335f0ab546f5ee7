#include <algorithm>
#include <climits>
#include <thread>

#include "engine/KilnorPro.h"
#include "engine/Notifications.h"
#include "engine/image/SmartReferences.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {

namespace {

// Hashing is bound by the processor once the files are cached: one thread
// per core, and a few at most, since more only fight over the disk.
constexpr unsigned kMaxHashThreads = 4;

unsigned HashThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxHashThreads); }

// The completion event carries a 32-bit count; a larger saving reads as
// the largest one it can hold, never as a wrapped small or negative one.
std::int32_t SavedBytesForEvent(std::uint64_t bytes) {
  return static_cast<std::int32_t>(std::min<std::uint64_t>(bytes, INT32_MAX));
}

// The worker of one pass. Owns nothing: CDFiles belongs to the component,
// which joins the worker before it goes away.
class TSmartReferenceThread {
 public:
  explicit TSmartReferenceThread(TCDFiles& CDFiles) : CDFiles(CDFiles) {}

  // Runs the pass, sets the status back to idle and reports the end once.
  void Execute() {
    const TSmartReferenceOutcome outcome = GenerateReferences(CDFiles, HashThreads());
    CDFiles.ComponentStatus = stIdle;
    ReportSmartRefDone(CDFiles.hWNDFE, CDFiles.cbGenSmRefEvent, this, outcome.Aborted ? erAborted : erNone,
                       SavedBytesForEvent(outcome.SavedBytes));
  }

 private:
  TCDFiles& CDFiles;
};

}  // namespace

bool TKilnorPro::GenerateSmartReferences() {
  // New references would move files under the running write's stream.
  if (!NoWriteRunning(CDFiles)) return false;
  ClearError(CDFiles);
  CDFiles.cbGenSmRefEvent = FOnSmartRefGenDone;
  CDFiles.ComponentStatus = stSmartReferences;
  // Lowered here rather than on the worker, so an abort asked for right
  // after the start is not lost.
  CDFiles.Aborted = false;
  CDFiles.SmartReferencesSize = CandidateSectors(SmartReferenceCandidates(CDFiles));
  CDFiles.SmartReferencesProgress = 0;
  // New references change where files are recorded: the layout is redone.
  CDFiles.Prepared = false;
  Workers.Start([this](std::stop_token) { TSmartReferenceThread(CDFiles).Execute(); });
  return true;
}

}  // namespace kilnor
