// Replies of a drive that may be faulty, fed through the engine's real
// transport entry. Every command the device layer sends takes its answer
// from the input, front to back:
//   a byte with bit 7 clear, a big-endian length and that many data bytes
//     (cut to what the command asked for): the command succeeded;
//   a byte with bit 7 set and 32 bytes of sense data: it failed, with a
//     check condition (bit 6 clear) or a busy target (bit 6 set).
// Once the input is used up every command fails with "medium not present".
// fuzz/DriveRepliesSeeds writes seeds in this form from the emulated recorder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "DriveQuestions.h"
#include "InputBytes.h"
#include "engine/platform/Clock.h"

namespace {

using namespace kilnor;

fuzz::TInputBytes* Replies = nullptr;

void Fail(TSRB_ExecSCSICmd& Srb, std::uint8_t TargetStatus) {
  Srb.SRB_Status = SS_ERR;
  Srb.SRB_TargStat = TargetStatus;
}

void Answer(TSRB_ExecSCSICmd& Srb) {
  if (Replies->Empty()) {
    Fail(Srb, STATUS_CHKCOND);
    Srb.SenseArea[0] = 0x70;
    Srb.SenseArea[2] = 0x02;
    Srb.SenseArea[12] = 0x3A;
    return;
  }
  const std::uint8_t kind = Replies->U8();
  if (kind & 0x80) {
    Fail(Srb, (kind & 0x40) ? STATUS_BUSY : STATUS_CHKCOND);
    const auto sense = Replies->Bytes(sizeof Srb.SenseArea);
    std::memcpy(Srb.SenseArea, sense.data(), sense.size());
    return;
  }
  Srb.SRB_Status = SS_COMP;
  const std::uint16_t length = Replies->Be16();
  const bool dataIn = (Srb.SRB_Flags & SRB_DIR_IN) && Srb.SRB_BufPointer != nullptr;
  const auto data = Replies->Bytes(dataIn ? std::min<std::uint32_t>(length, Srb.SRB_BufLen) : 0);
  if (!dataIn) return;
  std::memcpy(Srb.SRB_BufPointer, data.data(), data.size());
  Srb.SRB_BufLen = static_cast<std::uint32_t>(data.size());
}

std::uint32_t Send(void* Request) {
  auto& srb = *static_cast<TSRB_ExecSCSICmd*>(Request);
  Answer(srb);
  const std::uint8_t status = srb.SRB_Status;
  if (auto* event = static_cast<TAspiEvent*>(srb.SRB_PostProc)) event->Signal(event);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  // Waits for a drive that is becoming ready pass at once.
  static TFakeClock clock;
  static TClockOverride instantWaits(clock);
  fuzz::TInputBytes replies({Data, Size});
  Replies = &replies;
  fuzz::AskEverything(*fuzz::DeviceBehind(&Send));
  Replies = nullptr;
  return 0;
}
