#pragma once
// Verification: files read back from the disc and their MD5 digests compared
// with those of their sources, on a worker thread. The list of files comes
// either from the session just written (every file with data of its own in
// the compilation) or from the caller, who matched the files of a recorded
// session with their sources. Each file gets one finding that says which
// side differs when that can be told: the source, changed since it was
// recorded, or the disc's copy.
#include <atomic>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "engine/device/SCSILib.h"
#include "engine/image/SourceDigest.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

// One file to check: its source entry (Path, FileSize, Hash) and the place
// and size of its copy on the disc.
struct TVerifyItem {
  pFileEntry Source = nullptr;
  std::int32_t FileId = 0;      // what the events and findings name it by
  std::uint32_t Sector = 0;     // absolute first sector of the disc's copy
  std::uint64_t DiscBytes = 0;  // bytes of the disc's copy
  // The source's last-write time when it was recorded (local time): a source
  // written to since then is the side that changed.
  TSystemTime RecordedTime;
};

enum class TVerifyOutcome : std::uint8_t {
  Match,
  DiscDiffers,       // the disc's copy is not what the source holds
  SourceChanged,     // the source was changed after it was recorded
  SourceUnreadable,  // the source cannot be opened or read
  DiscUnreadable,    // the drive could not read the disc's copy
  Aborted,           // the verify was aborted before the file was checked in full
};

struct TVerifyFinding {
  std::int32_t FileId = 0;
  TVerifyOutcome Outcome = TVerifyOutcome::Match;
  std::string Message;  // for a person: what differs and why ("" for a match)
};

// What one verify found, filled by the worker; the owner reads it after the
// final event.
struct TVerifyReport {
  std::vector<TVerifyFinding> Findings;  // one per file checked, in order
  std::uint32_t Checked = 0;
  std::uint32_t Failed = 0;              // findings other than Match
  bool Aborted = false;
  bool Stopped = false;                  // StopOnMismatch ended it at a failed file
};

// Every file of the prepared session with data of its own: directories,
// imported entries, memory files (they have no source to read again) and
// entries sharing a twin's data (the twin is checked) are left out.
[[nodiscard]] std::vector<TVerifyItem> SessionVerifyItems(const TCDFiles& CDFiles);

// The verify worker. Owns nothing: CDFiles, Device, the source entries and
// Report belong to the component, which keeps them alive until the worker
// has been joined.
class TVerifyDiscThread {
 public:
  TVerifyDiscThread(TCDFiles& CDFiles, TSCSIDevice& Device, std::vector<TVerifyItem> Items,
                    TVerifyReport& Report);
  bool StopOnMismatch = false;
  bool FireVerifyEventOnAllFiles = false;

  // Checks the files in order, then sets the status back to idle and sends
  // the final event (failed when any file failed or the verify was aborted).
  void Execute();

 private:
  [[nodiscard]] TVerifyFinding Check(const TVerifyItem& Item);
  // The source's digest when it is kept from an earlier pass or quickly
  // made; else nothing yet, and Pending makes it on a thread of its own
  // while the disc's copy is read back.
  [[nodiscard]] std::optional<TSourceDigest> SourceDigestNowOrLater(TFileEntry& Source,
                                                                    std::future<TSourceDigest>& Pending);

  TCDFiles& CDFiles;
  TSCSIDevice& Device;
  std::vector<TVerifyItem> items_;
  TVerifyReport& report_;
  // One buffer each for the disc's copies and the sources, reused file after file.
  std::vector<std::uint8_t> discBuffer_;
  std::vector<std::uint8_t> sourceBuffer_;
};

// The component's VerifyDisc and VerifyFiles up to the thread start: status
// 10 (verifying), abort flag lowered, no pending error, the handler copied,
// VerifySize the sectors to read and VerifyProgress 0, the speed meters
// cleared so that the read meter shows the read-back.
void BeginVerify(TCDFiles& CDFiles, TSCSIDevice& Device, const std::vector<TVerifyItem>& Items,
                 TVerifyDoneEvent OnVerifyDone);

}  // namespace kilnor
