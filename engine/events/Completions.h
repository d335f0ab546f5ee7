#pragma once
// The completions of the engine's worker threads: the four completion event
// types, their messages, and the one way a worker reports its end. Below the
// device and write layers, so that the erase, write and verify workers report
// without knowing the component.
//
// A worker reports with the Report* helper of its operation, passing the
// queue pointer kept in its record (TCDFiles::hWNDFE, for erase
// TSCSIDevice::hWNDFE) and the handler copied there when its operation
// started:
//   - unassigned handler: nothing is reported at all;
//   - a queue (the component has an owner): the message is posted, and the
//     owner's thread later fires the component's current event with the
//     component as Sender;
//   - no queue: the copied handler runs at once on the worker's own thread,
//     with the worker as Sender.
// Workers decide "failed" from their own failed flag, never from the
// consumable error number, which the owner may already have read.
#include <cstdint>
#include <functional>

#include "engine/platform/NotificationQueue.h"

namespace kilnor {

// Handlers are bound methods; an empty std::function is "unassigned".
using TWriteDoneEvent = std::function<void(void* Sender, std::uint8_t DeviceId, bool WriteFailed)>;
using TEraseDoneEvent = std::function<void(void* Sender, std::uint8_t DeviceId, bool EraseFailed)>;
using TVerifyDoneEvent =
    std::function<void(void* Sender, std::uint8_t DeviceId, std::int32_t FileId, bool Failed)>;
using TSmartRefGenDoneEvent =
    std::function<void(void* Sender, bool Failed, std::int32_t CanSaveBytes)>;

inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t WM_ERASEDONE = WM_USER + 101;     // lParam: failed
inline constexpr std::uint32_t WM_WRITEDONE = WM_USER + 102;     // lParam: failed
inline constexpr std::uint32_t WM_VERIFYDONE = WM_USER + 103;    // wParam: file id or -1; lParam: failed
inline constexpr std::uint32_t WM_SMARTREFDONE = WM_USER + 104;  // wParam: error number; lParam: bytes saved

// The file id of the final verify report, after the per-file ones.
inline constexpr std::int32_t kVerifySummary = -1;

// Erases and writes report only whether they failed.
template <typename THandler>
void ReportFailedFlag(TNotificationQueue* queue, std::uint32_t message, const THandler& handler, void* sender,
                      bool failed) {
  if (!handler) return;
  if (queue) {
    queue->Post(message, 0, failed ? 1 : 0);
  } else {
    handler(sender, 0, failed);
  }
}

inline void ReportEraseDone(TNotificationQueue* queue, const TEraseDoneEvent& handler, void* worker,
                            bool failed) {
  ReportFailedFlag(queue, WM_ERASEDONE, handler, worker, failed);
}

// The write start routine reports an abort with the component as sender; the
// write thread reports with itself.
inline void ReportWriteDone(TNotificationQueue* queue, const TWriteDoneEvent& handler, void* sender,
                            bool failed) {
  ReportFailedFlag(queue, WM_WRITEDONE, handler, sender, failed);
}

// Called once per verified file and once more with kVerifySummary.
// selectedDevice is the device index handed to a handler called directly.
inline void ReportVerifyDone(TNotificationQueue* queue, const TVerifyDoneEvent& handler, void* worker,
                             std::uint8_t selectedDevice, std::int32_t fileId, bool failed) {
  if (!handler) return;
  if (queue) {
    queue->Post(WM_VERIFYDONE, static_cast<std::uint32_t>(fileId), failed ? 1 : 0);
  } else {
    handler(worker, selectedDevice, fileId, failed);
  }
}

inline void ReportSmartRefDone(TNotificationQueue* queue, const TSmartRefGenDoneEvent& handler,
                               void* worker, std::uint32_t errorNumber, std::int32_t canSaveBytes) {
  if (!handler) return;
  if (queue) {
    queue->Post(WM_SMARTREFDONE, errorNumber, canSaveBytes);
  } else {
    handler(worker, errorNumber != 0, canSaveBytes);
  }
}

}  // namespace kilnor
