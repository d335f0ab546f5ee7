#include "engine/device/Erase.h"

#include <array>
#include <vector>

#include "engine/device/Commands.h"
#include "engine/device/FormatLists.h"
#include "engine/device/Media.h"
#include "engine/events/Completions.h"
#include "engine/image/ErrorNumbers.h"
#include "engine/platform/Clock.h"

namespace kilnor {

namespace {

constexpr std::uint16_t kPacketBlocks = kPacketBytes / kSectorBytes;
constexpr std::uint32_t kQuickOverwritePackets = 16;   // 1 MiB from LBA 0
constexpr std::uint32_t kDVDRAMQuickPackets = 128;     // 8 MiB
constexpr std::uint32_t kDVDPlusRWFullPackets = 2048;  // 128 MiB
constexpr std::uint8_t kStopBackgroundFormat = 3;
constexpr std::chrono::milliseconds kAbortCheckInterval{250};
constexpr int kBusyEraseTries = 50;
constexpr std::chrono::milliseconds kBusyErasePause{100};

// FORMAT UNIT parameter lists: a 4-byte header (format options valid,
// immediate; one 8-byte descriptor) and the descriptor (blocks, format type
// in bits 7-2, type-dependent parameter).
constexpr std::uint8_t kBDREQuickFormat[] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00,
                                             0x02, 0x80, 0xC0, 0x00, 0x10, 0x00};
constexpr std::uint8_t kDVDRAMFullFormat[] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x22,
                                              0x21, 0x20, 0x00, 0x00, 0x08, 0x00};

// A full format (format type 00h) of Blocks 2,048-byte blocks.
[[nodiscard]] std::array<std::uint8_t, 12> FullFormatList(std::uint32_t Blocks) {
  return {0x00,
          0x82,
          0x00,
          0x08,
          static_cast<std::uint8_t>(Blocks >> 24),
          static_cast<std::uint8_t>(Blocks >> 16),
          static_cast<std::uint8_t>(Blocks >> 8),
          static_cast<std::uint8_t>(Blocks),
          0x00,
          0x00,
          0x08,
          0x00};
}

// Blocks of the drive's full-format capacity, else of the medium's current
// or maximum capacity; 0 when the drive names neither.
[[nodiscard]] std::uint32_t FullFormatBlocks(TSCSIDevice& Device) {
  TFormatCapacities list;
  if (!ReadFormatCapacityList(Device, list) || list.Count == 0) return 0;
  for (std::size_t i = 1; i < list.Count; ++i)
    if ((list.Descriptors[i].TypeByte >> 2) == 0x00) return list.Descriptors[i].Blocks;
  return list.Descriptors[0].Blocks;
}

}  // namespace

TWaitOutcome WaitWhileNotReady(TSCSIDevice& Dev, const std::atomic<bool>& Aborted,
                               const std::function<bool()>& Poll, std::chrono::seconds Limit) {
  TClock& clock = Clock();
  const TClock::time_point deadline = clock.now() + Limit;
  for (;;) {
    for (std::chrono::milliseconds slept{0}; slept < kNotReadyPollInterval;
         slept += kAbortCheckInterval) {
      if (Aborted) return TWaitOutcome::Aborted;
      clock.sleep_for(kAbortCheckInterval);
    }
    if (Aborted) return TWaitOutcome::Aborted;
    // A poll the transport refuses leaves the sense data alone; cleared, it
    // cannot be mistaken for another "not ready".
    Dev.LastSenseInfo = {};
    if (Poll()) return TWaitOutcome::Ready;
    if (Dev.LastSenseInfo.AddSenseCode != kAscNotReady) return TWaitOutcome::Failed;
    if (clock.now() >= deadline) return TWaitOutcome::TimedOut;
  }
}

void BeginErase(TCDFiles& CDFiles, TSCSIDevice& Device, bool Quick, TEraseDoneEvent OnEraseDone) {
  CDFiles.ComponentStatus = stErasing;
  CDFiles.Aborted = false;
  Device.DeviceError = 0;
  Device.cbEraseDone = std::move(OnEraseDone);
  Device.QuickErase = Quick;
}

void TEraseThread::Execute() {
  const bool failed = !EraseUnlessBusy();
  Device.CloseFH = true;
  CDFiles.ComponentStatus = stIdle;
  ReportEraseDone(Device.hWNDFE, Device.cbEraseDone, this, failed);
}

// A drive that answers busy has taken nothing: the erase starts again,
// a bounded number of times. The medium is asked for only once the drive
// answers, since a question it answered busy would name the wrong medium.
// A drive busy to the end gives no sense, so the failure gets a reason of
// its own.
bool TEraseThread::EraseUnlessBusy() {
  for (int tries = 1;; ++tries) {
    if (TestUnitReady(Device) || !Device.TargetBusy) {
      const TMedium medium = DiscIs(Device);
      SetCDSpeed(Device, Device.ReadSpeed, Device.WriteSpeed);
      SetWriteParameters(Device, false, false, false, medium);
      if (EraseMedium(medium)) return true;
      if (!Device.TargetBusy) return false;
    }
    if (CDFiles.Aborted) return false;
    if (tries >= kBusyEraseTries) {
      RecordError(CDFiles, erDriveBusy);
      return false;
    }
    Clock().sleep_for(kBusyErasePause);
  }
}

bool TEraseThread::EraseMedium(TMedium Medium) {
  const bool quick = Device.QuickErase;
  switch (Medium) {
    case mtBDRE: return quick ? QuickFormatAndOverwrite(kBDREQuickFormat) : FullFormatBDRE();
    case mtDVDPLUSRW:
      return quick ? QuickFormatAndOverwrite(kDVDPlusRWFormatList) : FullFormatDVDPlusRW();
    case mtDVDRAM:
    case mtHDDVDRAM: {
      // An HD DVD-RAM cannot be blanked; it is erased the way a DVD-RAM is,
      // formatted to the capacity its drive names.
      if (!quick)
        return Medium == mtDVDRAM ? FormatAndWait(kDVDRAMFullFormat, true) : FullFormat(true);
      const bool written = OverwriteStart(kDVDRAMQuickPackets);
      Device.CloseFH = true;
      return SynchronizeCache(Device, false) && written;
    }
    default: return Blank(quick);
  }
}

// A quick format when the drive takes it, then zeros over the start of the
// medium whether it took it or not. A busy drive has not refused the format
// but not heard it: a medium never formatted would refuse the zeros, so the
// erase is started again instead.
bool TEraseThread::QuickFormatAndOverwrite(std::span<const std::uint8_t> FormatList) {
  if (FormatUnit(Device, kFormatDataCode1, FormatList)) {
    if (!WaitForDrive(false)) return false;
  } else if (Device.TargetBusy) {
    return false;
  }
  return ClearStartAndStopFormat();
}

// Formats the whole disc, then clears its start as the quick erase does.
bool TEraseThread::FullFormatBDRE() { return FullFormat(false) && ClearStartAndStopFormat(); }

bool TEraseThread::FullFormat(bool PollWithTestUnitReady) {
  const std::uint32_t blocks = FullFormatBlocks(Device);
  if (blocks == 0) return false;
  const std::array<std::uint8_t, 12> list = FullFormatList(blocks);
  return FormatAndWait(list, PollWithTestUnitReady);
}

// The zeros are on the disc only once the drive has written its cache out
// and ended the background format: either refused fails the erase. Both
// are sent even after a failed write, so the drive is left settled.
bool TEraseThread::ClearStartAndStopFormat() {
  const bool written = OverwriteStart(kQuickOverwritePackets);
  const bool synchronised = SynchronizeCache(Device, false);
  const bool closed = CloseTrackSession(Device, false, kStopBackgroundFormat, 0);
  Device.CloseFH = true;
  return written && synchronised && closed;
}

bool TEraseThread::FullFormatDVDPlusRW() {
  if (!FormatAndWait(kDVDPlusRWFormatList, false)) return false;
  CDFiles.ComponentStatus = stBackgroundFormat;
  const bool written = OverwriteStart(kDVDPlusRWFullPackets);
  const bool synchronised = SynchronizeCache(Device, false);
  Device.CloseFH = true;
  return written && synchronised;
}

bool TEraseThread::FormatAndWait(std::span<const std::uint8_t> FormatList,
                                 bool PollWithTestUnitReady) {
  return FormatUnit(Device, kFormatDataCode1, FormatList) && WaitForDrive(PollWithTestUnitReady);
}

bool TEraseThread::Blank(bool Quick) { return BlankMedium(Device, Quick) && WaitForDrive(false); }

// Packets of zeros from LBA 0, from a buffer of their own: the record's
// reply buffer is one byte short of a packet.
bool TEraseThread::OverwriteStart(std::uint32_t Packets) {
  const std::vector<std::uint8_t> zeros(kPacketBytes, 0);
  for (std::uint32_t packet = 0; packet < Packets; ++packet) {
    if (CDFiles.Aborted) return false;
    Device.CloseFH = false;
    if (!Write10(Device, packet * kPacketBlocks, kPacketBlocks, kPacketBytes, zeros)) {
      Device.CloseFH = true;
      return false;
    }
  }
  return true;
}

bool TEraseThread::WaitForDrive(bool PollWithTestUnitReady) {
  const auto poll = [&] {
    return PollWithTestUnitReady ? TestUnitReady(Device)
                                 : ReadDiscInformation(Device, Device.BGFDI, kDiscInformationPollBytes);
  };
  return WaitWhileNotReady(Device, CDFiles.Aborted, poll) == TWaitOutcome::Ready;
}

}  // namespace kilnor
