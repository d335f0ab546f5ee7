#include "engine/image/ErrorNumbers.h"

#include <mutex>

namespace kilnor {

void RecordError(TCDFiles& CDFiles, std::uint32_t Number) {
  std::lock_guard lock(CDFiles.ErrorLock);
  std::uint32_t none = erNone;
  CDFiles.ErrorNumber.compare_exchange_strong(none, Number);
}

bool NoWriteRunning(TCDFiles& CDFiles) {
  if (!CDFiles.WriteRunning) return true;
  RecordError(CDFiles, erWriteRunning);
  return false;
}

void RecordFileError(TCDFiles& CDFiles, std::uint32_t Number, std::u16string_view FileName,
                     std::string_view Cause) {
  std::lock_guard lock(CDFiles.ErrorLock);
  std::uint32_t none = erNone;
  if (CDFiles.ErrorNumber.compare_exchange_strong(none, Number)) {
    CDFiles.FileName.assign(FileName);
    CDFiles.FileErrorCause.assign(Cause);
  }
}

void ClearError(TCDFiles& CDFiles) {
  std::lock_guard lock(CDFiles.ErrorLock);
  CDFiles.ErrorNumber = erNone;
  CDFiles.FileName.clear();
  CDFiles.FileErrorCause.clear();
}

std::string FileErrorCause(TCDFiles& CDFiles) {
  std::lock_guard lock(CDFiles.ErrorLock);
  return CDFiles.FileErrorCause;
}

}  // namespace kilnor
