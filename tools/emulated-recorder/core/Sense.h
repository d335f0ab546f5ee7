#pragma once
// Sense data of a failed command: key, additional sense code and qualifier,
// and the fields a drive fills for some of them.
#include <cstdint>
#include <optional>

namespace velmor::emu {

struct TSense {
  std::uint8_t Key = 0;
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;
  std::optional<std::uint32_t> Information;  // e.g. the failing block
  std::optional<std::uint16_t> Progress;     // 0..65535 of a long operation

  friend bool operator==(const TSense& A, const TSense& B) {
    return A.Key == B.Key && A.Asc == B.Asc && A.Ascq == B.Ascq;
  }
};

namespace sense {

inline constexpr std::uint8_t kNotReady = 0x2;
inline constexpr std::uint8_t kMediumError = 0x3;
inline constexpr std::uint8_t kIllegalRequest = 0x5;
inline constexpr std::uint8_t kUnitAttention = 0x6;

[[nodiscard]] inline TSense Make(std::uint8_t Key, std::uint8_t Asc, std::uint8_t Ascq) {
  return TSense{Key, Asc, Ascq, std::nullopt, std::nullopt};
}

// The conditions this drive reports, named as the standards name them.
inline TSense BecomingReady() { return Make(kNotReady, 0x04, 0x01); }
inline TSense FormatInProgress() { return Make(kNotReady, 0x04, 0x04); }
inline TSense OperationInProgress() { return Make(kNotReady, 0x04, 0x07); }
inline TSense LongWriteInProgress() { return Make(kNotReady, 0x04, 0x08); }
inline TSense NoMediumTrayClosed() { return Make(kNotReady, 0x3A, 0x01); }
inline TSense NoMediumTrayOpen() { return Make(kNotReady, 0x3A, 0x02); }
inline TSense UnrecoveredReadError() { return Make(kMediumError, 0x11, 0x00); }
inline TSense WriteError() { return Make(kMediumError, 0x0C, 0x00); }
inline TSense ParameterListLengthError() { return Make(kIllegalRequest, 0x1A, 0x00); }
inline TSense InvalidOpcode() { return Make(kIllegalRequest, 0x20, 0x00); }
inline TSense LbaOutOfRange() { return Make(kIllegalRequest, 0x21, 0x00); }
inline TSense InvalidAddressForWrite() { return Make(kIllegalRequest, 0x21, 0x02); }
inline TSense InvalidFieldInCdb() { return Make(kIllegalRequest, 0x24, 0x00); }
inline TSense InvalidFieldInParameters() { return Make(kIllegalRequest, 0x26, 0x00); }
inline TSense CannotReadIncompatible() { return Make(kIllegalRequest, 0x30, 0x02); }
inline TSense CannotWriteIncompatible() { return Make(kIllegalRequest, 0x30, 0x05); }
inline TSense CannotFormatIncompatible() { return Make(kIllegalRequest, 0x30, 0x06); }
inline TSense SavingNotSupported() { return Make(kIllegalRequest, 0x39, 0x00); }
inline TSense CommandSequenceError() { return Make(kIllegalRequest, 0x2C, 0x00); }
inline TSense RemovalPrevented() { return Make(kIllegalRequest, 0x53, 0x02); }
inline TSense EndOfUserArea() { return Make(kIllegalRequest, 0x63, 0x00); }
inline TSense IllegalModeForTrack() { return Make(kIllegalRequest, 0x64, 0x00); }
inline TSense PowerOnReset() { return Make(kUnitAttention, 0x29, 0x00); }

}  // namespace sense
}  // namespace velmor::emu
