#include "engine/device/Commands.h"

namespace kilnor {

bool TestUnitReady(TSCSIDevice& Dev) {
  TSRB_ExecSCSICmd srb = MakeSRB(TDataDirection::None, 6, nullptr, 0);
  srb.CDBByte[0] = 0x00;
  return ExecSCSICommand(Dev, srb) == SS_COMP;
}

bool Inquiry(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer) {
  if (Buffer.size() < kInquiryLength) return false;
  TSRB_ExecSCSICmd srb = MakeSRB(TDataDirection::In, 6, Buffer.data(), kInquiryLength);
  srb.CDBByte[0] = 0x12;
  srb.CDBByte[4] = kInquiryLength;
  return ExecSCSICommand(Dev, srb) == SS_COMP;
}

}  // namespace kilnor
