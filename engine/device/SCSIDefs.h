#pragma once
// SCSI records shared by the transport and the command set.
#include <cstdint>

namespace kilnor {

// Fixed-format sense data (SPC).
struct TSENSE {
  std::uint8_t ErrorCode;
  std::uint8_t SegmentNum;
  std::uint8_t SenseKey;
  std::uint8_t InfoByte0, InfoByte1, InfoByte2, InfoByte3;
  std::uint8_t AddSenLen;
  std::uint8_t ComSpecInf0, ComSpecInf1, ComSpecInf2, ComSpecInf3;
  std::uint8_t AddSenseCode;
  std::uint8_t AddSenQual;
  std::uint8_t FieldRepUCode;
  std::uint8_t SenKeySpec15, SenKeySpec16, SenKeySpec17;
  std::uint8_t AddSenseBytes[14];
};
static_assert(sizeof(TSENSE) == 32);

// Address of a drive on its host adapter.
struct TSCSI_ADDRESS {
  std::uint32_t Length;
  std::uint8_t PortNumber;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
};
static_assert(sizeof(TSCSI_ADDRESS) == 8);

}  // namespace kilnor
