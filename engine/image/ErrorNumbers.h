#pragma once
// The engine's error numbers and how an operation records them in the
// compilation's record, from whichever thread fails first.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/image/TreeTypes.h"

namespace kilnor {

enum TErrorNumber : std::uint32_t {
  erNone = 0,
  erNotPrepared = 1,
  erFileOpen = 2,
  erFileCreate = 3,
  erAborted = 4,
  // Refusals of a burn before anything is written, and outcomes no drive
  // reports itself. They lie above every drive error, which fits 16 bits.
  erTestWriteNotSimulated = 0x10001,
  erNoRoomOnDisc = 0x10002,
  erDiscNotWritable = 0x10003,
  erSessionStartUnknown = 0x10004,
  erFileNameTooLong = 0x10005,
  erImportedAfterStart = 0x10006,
  erDriveBusy = 0x10007,
  erImageNeedsBlankDisc = 0x10008,
  erIncompleteWrite = 0x10009,
  // A recorded session that could not be imported or mounted: no ISO 9660
  // volume, or a directory tree that cannot be read or trusted.
  erImportFailed = 0x1000A,
  // A write, a layout or a change of the compilation asked for while a write
  // runs: the running write reads the compilation as it stands.
  erWriteRunning = 0x1000B,
  // Any other value is a drive error: additional sense code * 256 + qualifier.
};

// Records an engine error unless the running operation already has one: the
// first failure is the reason the operation reports.
void RecordError(TCDFiles& CDFiles, std::uint32_t Number);
// The same for errors 2 and 3; the file name is copied, so the text never
// points into an entry that ClearAll may free. Cause says why the file
// failed ("No space left on device"); it is kept beside the error's text,
// which stays as it is.
void RecordFileError(TCDFiles& CDFiles, std::uint32_t Number, std::u16string_view FileName,
                     std::string_view Cause = {});
// True when no write runs; otherwise records erWriteRunning. What a running
// write streams (the tree, the layout, its settings, the drive) is refused to
// everything else until it has ended.
[[nodiscard]] bool NoWriteRunning(TCDFiles& CDFiles);
// Forgets a pending engine error; an operation does this when it starts.
void ClearError(TCDFiles& CDFiles);
// The cause recorded with the last file error; it stays until the next
// operation starts, so it can be read after the error's text.
[[nodiscard]] std::string FileErrorCause(TCDFiles& CDFiles);

}  // namespace kilnor
