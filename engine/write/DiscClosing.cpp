#include "engine/write/DiscClosing.h"

#include <functional>

#include "engine/device/Commands.h"
#include "engine/device/Erase.h"
#include "engine/device/Media.h"
#include "engine/device/FormatLists.h"
#include "engine/write/ErrorTexts.h"
#include "engine/write/PacketWrite.h"

namespace kilnor {
namespace {

// CLOSE TRACK/SESSION functions.
constexpr std::uint8_t kCloseTrack = 1;
constexpr std::uint8_t kCloseSession = 2;
constexpr std::uint8_t kStopFormat = 3;
constexpr std::uint8_t kFinalise = 6;
// A DVD+RW write refused as "cannot write medium, incompatible format".
constexpr std::uint8_t kIncompatibleFormat = 0x30;
constexpr std::uint8_t kIncompatibleFormatQualifier = 0x05;

class TDiscCloser {
 public:
  TDiscCloser(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target)
      : cdFiles_(CDFiles), device_(Device), target_(Target) {}

  [[nodiscard]] bool Close(bool Complete, std::span<const std::uint8_t> FirstPacket) {
    if (target_.Finalize && Complete) cdFiles_.ComponentStatus = stClosingDisc;
    bool closed = false;
    switch (target_.Medium) {
      case mtCDR:
      case mtCDRW:
      case mtDDCDR:
      case mtDDCDRW: closed = CloseCD(); break;
      case mtDVDR:
      case mtDVDRW:
      case mtDVDRWSR: closed = CloseSequentialDVDMinus(); break;
      case mtDVDPLUSR:
      case mtDVDPLUSRDL: closed = CloseDVDPlusR(); break;
      default:
        closed = IsOverwritable(target_.Medium) ? CloseOverwritable(Complete, FirstPacket) : CloseOther();
        break;
    }
    LeaveDriveReady();
    device_.CloseFH = true;
    return closed;
  }

 private:
  // The drive's reason is recorded when the command failed.
  [[nodiscard]] bool Checked(bool Succeeded) {
    if (!Succeeded) RecordDriveError(cdFiles_, device_, erDiscNotWritable);
    return Succeeded;
  }

  void ClearBufferFields() {
    device_.DeviceBufferPosition = 0;
    device_.DeviceBufferSize = 0;
  }

  // Sleeps and asks with Poll while the drive answers "not ready".
  void WaitWhileBusy(const std::function<bool()>& Poll) {
    device_.LastSenseInfo = {};
    if (Poll() || device_.LastSenseInfo.AddSenseCode != kAscNotReady) return;
    static_cast<void>(WaitWhileNotReady(device_, cdFiles_.Aborted, Poll));
  }
  void WaitForDiscInformation() {
    WaitWhileBusy([this] { return ReadDiscInformation(device_, device_.BGFDI, kDiscInformationPollBytes); });
  }
  void WaitAfterImmediateFlush() {
    WaitForDiscInformation();
    WaitWhileBusy([this] { return TestUnitReady(device_); });
  }

  [[nodiscard]] bool FlushAndWait() {
    const bool flushed = Checked(SynchronizeCache(device_, true));
    WaitAfterImmediateFlush();
    ClearBufferFields();
    return flushed;
  }

  [[nodiscard]] bool Flush() {
    const bool flushed = Checked(SynchronizeCache(device_, false));
    ClearBufferFields();
    return flushed;
  }

  // Sets the multi-session field for the session close: a finalised disc
  // takes no further session.
  void SetSessionWriteParameters() {
    SetWriteParameters(device_, target_.TestWrite, target_.BurnProof, !target_.Finalize, target_.Medium);
  }

  [[nodiscard]] bool CloseCD() {
    const bool flushed = FlushAndWait();
    SetSessionWriteParameters();
    if (Checked(CloseTrackOrSession(device_, false, true, 0))) return flushed;
    static_cast<void>(CloseTrackOrSession(device_, true, true, 0));
    return false;
  }

  // The session close finalises the disc when the write parameters ask for
  // no further session.
  [[nodiscard]] bool CloseSequentialDVDMinus() {
    const bool flushed = Flush();
    static_cast<void>(CloseTrackSession(device_, false, kCloseTrack, target_.Track));
    const bool finalMarked = !target_.Finalize || Checked(ClearMultisession(device_));
    return Checked(CloseTrackSession(device_, false, kCloseSession, 0)) && flushed && finalMarked;
  }

  [[nodiscard]] bool CloseDVDPlusR() {
    const bool flushed = Flush();
    static_cast<void>(CloseTrackSession(device_, false, kCloseTrack, target_.Track));
    const bool closed = target_.Finalize ? CloseTrackSession(device_, false, kFinalise, 0)
                                         : CloseTrackSession(device_, false, kCloseSession, 0);
    return Checked(closed) && flushed;
  }

  // BD-R and HD DVD-R: track and session closed with the immediate bit when
  // the drive refuses it without; finalising closes with its own function.
  [[nodiscard]] bool CloseOther() {
    const bool flushed = FlushAndWait();
    if (!CloseTrackOrSession(device_, true, false, target_.Track))
      static_cast<void>(CloseTrackOrSession(device_, true, true, target_.Track));
    SetSessionWriteParameters();
    if (target_.Finalize) return Checked(CloseTrackSession(device_, false, kFinalise, 0)) && flushed;
    const bool closed = CloseTrackOrSession(device_, false, true, 0) || CloseTrackOrSession(device_, false, false, 0);
    return Checked(closed) && flushed;
  }

  // Written in place: the cache is flushed; only a complete session's
  // descriptors go to the start of the medium, and only once the session is
  // safely on it, so a reader finds either the earlier volume or the new one.
  [[nodiscard]] bool CloseOverwritable(bool Complete, std::span<const std::uint8_t> FirstPacket) {
    bool closed = Flush();
    if (closed && Complete && target_.GrowsVolume) closed = CopyFirstPacket(FirstPacket) && Flush();
    if (target_.Medium == mtDVDPLUSRW)
      static_cast<void>(CloseTrackSession(device_, false, kStopFormat, kInvisibleTrack));
    if (target_.Medium == mtDVDRWRO) {
      static_cast<void>(CloseTrackSession(device_, false, kCloseTrack, 1));
      static_cast<void>(CloseTrackSession(device_, true, kCloseSession, 0));
      WaitForDiscInformation();
    }
    return closed;
  }

  // A DVD+RW that refuses the copy for its format is formatted again (what
  // it holds stays readable) and the copy tried once more.
  [[nodiscard]] bool CopyFirstPacket(std::span<const std::uint8_t> FirstPacket) {
    if (TryWritePacket(cdFiles_, device_, 0, FirstPacket)) return true;
    const TSENSE& sense = device_.LastSenseInfo;
    const bool formatRefused = target_.Medium == mtDVDPLUSRW && sense.AddSenseCode == kIncompatibleFormat &&
                               sense.AddSenQual == kIncompatibleFormatQualifier;
    if (formatRefused && FormatUnit(device_, kFormatDataCode1, kDVDPlusRWFormatList)) {
      WaitForDiscInformation();
      return WritePacket(cdFiles_, device_, 0, FirstPacket);
    }
    RecordDriveError(cdFiles_, device_, erDriveBusy);
    return false;
  }

  void LeaveDriveReady() {
    if (target_.Medium != mtDVDRAM) WaitForDiscInformation();
    static_cast<void>(UnlockMedium(device_));
    static_cast<void>(LoadMedium(device_, false));
    static_cast<void>(RezeroUnit(device_));
    static_cast<void>(TestUnitReady(device_));
  }

  TCDFiles& cdFiles_;
  TSCSIDevice& device_;
  const TDiscTarget& target_;
};

}  // namespace

bool CloseDisc(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target, bool Complete,
               std::span<const std::uint8_t> FirstPacket) {
  return TDiscCloser(CDFiles, Device, Target).Close(Complete, FirstPacket);
}

}  // namespace kilnor
