#pragma once
// Erasing a rewritable medium in the selected drive, quickly or fully, on a
// worker thread. CD-RW and DVD-RW are blanked with BLANK; DVD+RW, BD-RE and
// DVD-RAM are formatted and/or overwritten with zeros at the start of the
// medium, so that no file system is found there any more.
#include <atomic>
#include <chrono>
#include <functional>
#include <span>

#include "engine/device/SCSILib.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

// A drive that reports "not ready" (sense code 04h) is asked again every
// 5 seconds, for at most this long.
inline constexpr std::chrono::seconds kNotReadyPollInterval{5};
inline constexpr std::chrono::hours kNotReadyWaitLimit{6};

enum class TWaitOutcome : std::uint8_t {
  Ready,     // the last poll succeeded
  Failed,    // a poll failed for another reason than "not ready", or was refused
  TimedOut,  // still not ready when the limit passed
  Aborted,   // Aborted was raised
};

// Sleeps 5 s (through Clock()) and sends Poll, again and again while the
// drive answers "not ready", until Limit has passed or Aborted is raised.
[[nodiscard]] TWaitOutcome WaitWhileNotReady(TSCSIDevice& Dev, const std::atomic<bool>& Aborted,
                                             const std::function<bool()>& Poll,
                                             std::chrono::seconds Limit = kNotReadyWaitLimit);

// The component's EraseDisc up to the thread start: status 2 (erasing),
// abort flag lowered, the handler copied into the device record, the kind of
// erase remembered. The caller then runs TEraseThread::Execute on a worker.
void BeginErase(TCDFiles& CDFiles, TSCSIDevice& Device, bool Quick, TEraseDoneEvent OnEraseDone);

// The erase worker. Owns nothing: CDFiles and Device belong to the component,
// which keeps them alive until the worker has been joined.
class TEraseThread {
 public:
  TEraseThread(TCDFiles& CDFiles, TSCSIDevice& Device) : CDFiles(CDFiles), Device(Device) {}
  // Erases the medium, sets the status back to idle, then reports the
  // outcome once through the device's notification queue (or calls the
  // copied handler itself, with this thread object as Sender). A refused
  // BLANK or FORMAT UNIT, a failed write, a drive that never becomes ready,
  // a removed medium and an abort all report failure.
  void Execute();

 private:
  [[nodiscard]] bool EraseUnlessBusy();
  [[nodiscard]] bool EraseMedium(TMedium Medium);
  [[nodiscard]] bool QuickFormatAndOverwrite(std::span<const std::uint8_t> FormatList);
  [[nodiscard]] bool FullFormatBDRE();
  [[nodiscard]] bool FullFormat(bool PollWithTestUnitReady);
  [[nodiscard]] bool ClearStartAndStopFormat();
  [[nodiscard]] bool FullFormatDVDPlusRW();
  [[nodiscard]] bool FormatAndWait(std::span<const std::uint8_t> FormatList,
                                   bool PollWithTestUnitReady);
  [[nodiscard]] bool Blank(bool Quick);
  [[nodiscard]] bool OverwriteStart(std::uint32_t Packets);
  [[nodiscard]] bool WaitForDrive(bool PollWithTestUnitReady);

  TCDFiles& CDFiles;
  TSCSIDevice& Device;
};

}  // namespace kilnor
