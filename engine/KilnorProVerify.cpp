// The component's verify: the files of the session just written, or files
// the caller matched with a recorded session, read back on a worker.
#include "engine/KilnorPro.h"
#include "engine/image/ISO9660.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {

bool TKilnorPro::VerifyDisc(bool StopOnMismatch, bool FireVerifyEventOnAllFiles) {
  // The addresses to read are those of the layout written last; after an
  // image or without a layout they would name sectors of something else.
  if (!LayoutIsCurrent(CDFiles) || CDFiles.SaveToISOImage || CDFiles.BurnISOImage) {
    ClearError(CDFiles);
    RecordError(CDFiles, erNotPrepared);
    return false;
  }
  return VerifyFiles(SessionVerifyItems(CDFiles), StopOnMismatch, FireVerifyEventOnAllFiles);
}

bool TKilnorPro::VerifyFiles(std::vector<TVerifyItem> Items, bool StopOnMismatch, bool FireVerifyEventOnAllFiles) {
  lastVerify_ = {};
  BeginVerify(CDFiles, Device, Items, FOnVerifyDone);
  // The worker works on this component's records and report; the registry
  // joins it before they go away.
  Workers.Start([this, items = std::move(Items), StopOnMismatch, FireVerifyEventOnAllFiles](std::stop_token) mutable {
    TVerifyDiscThread thread(CDFiles, Device, std::move(items), lastVerify_);
    thread.StopOnMismatch = StopOnMismatch;
    thread.FireVerifyEventOnAllFiles = FireVerifyEventOnAllFiles;
    thread.Execute();
  });
  return true;
}

}  // namespace kilnor
