#include "engine/device/Settle.h"

#include <algorithm>
#include <iterator>

#include "engine/device/SCSIDefs.h"
#include "engine/platform/Clock.h"

namespace kilnor {

namespace {

constexpr std::uint8_t kNotReadyKey = 0x2;
constexpr std::uint8_t kUnitAttentionKey = 0x6;
constexpr std::uint8_t kBecomingReady = 0x01;
constexpr std::uint8_t kMediumMayHaveChanged = 0x28;
constexpr std::uint8_t kResetOccurred = 0x29;

struct TSenseCode {
  std::uint8_t Key = 0;
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;
};

// Key, code and qualifier of fixed-format sense data (response code 70h or
// 71h, current or deferred).
[[nodiscard]] TSenseCode FixedSenseCode(const TSRB_ExecSCSICmd& Srb) {
  const std::uint8_t response = Srb.SenseArea[0] & 0x7F;
  if (response != 0x70 && response != 0x71) return {};
  return {static_cast<std::uint8_t>(Srb.SenseArea[2] & 0x0F), Srb.SenseArea[12], Srb.SenseArea[13]};
}

[[nodiscard]] bool IsBecomingReady(const TSenseCode& Sense) {
  return Sense.Key == kNotReadyKey && Sense.Asc == kAscNotReady &&
         Sense.Ascq == kBecomingReady;
}

void ClearAnswer(TSRB_ExecSCSICmd& Srb, std::uint32_t Length) {
  Srb.SRB_Status = 0;
  Srb.SRB_HaStat = 0;
  Srb.SRB_TargStat = 0;
  Srb.SRB_BufLen = Length;
  std::fill(std::begin(Srb.SenseArea), std::end(Srb.SenseArea), std::uint8_t{0});
}

}  // namespace

bool IsPassingCondition(std::uint8_t SenseKey, std::uint8_t Asc, std::uint8_t Ascq) {
  if (SenseKey == kUnitAttentionKey)
    return Asc == kMediumMayHaveChanged || Asc == kResetOccurred;
  return IsBecomingReady({SenseKey, Asc, Ascq});
}

std::uint8_t SendUntilSettled(TSRB_ExecSCSICmd& Srb,
                              const std::function<std::uint8_t(TSRB_ExecSCSICmd&)>& Send) {
  const std::uint32_t length = Srb.SRB_BufLen;
  std::uint8_t status = Send(Srb);
  for (int attempt = 1; attempt < kSettleAttempts && status != SS_COMP; ++attempt) {
    const TSenseCode sense = FixedSenseCode(Srb);
    if (!IsPassingCondition(sense.Key, sense.Asc, sense.Ascq)) break;
    if (IsBecomingReady(sense)) Clock().sleep_for(kBecomingReadyPause);
    ClearAnswer(Srb, length);
    status = Send(Srb);
  }
  return status;
}

}  // namespace kilnor
