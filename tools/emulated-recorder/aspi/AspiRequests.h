#pragma once
// The request blocks of the ASPI interface as this library receives them.
// A 32-bit build has the classic layout; on a 64-bit build the buffer and
// completion fields hold full pointers, as the hosts built for it send them.
#include <cstddef>
#include <cstdint>

namespace velmor::aspi {

inline constexpr std::uint8_t kHostAdapterInquiry = 0x00;
inline constexpr std::uint8_t kGetDeviceType = 0x01;
inline constexpr std::uint8_t kExecuteCommand = 0x02;
inline constexpr std::uint8_t kAbortRequest = 0x03;
inline constexpr std::uint8_t kResetDevice = 0x04;
inline constexpr std::uint8_t kGetDiskInfo = 0x06;

inline constexpr std::uint8_t kStatusPending = 0x00;
inline constexpr std::uint8_t kStatusComplete = 0x01;
inline constexpr std::uint8_t kStatusError = 0x04;
inline constexpr std::uint8_t kStatusInvalidCommand = 0x80;
inline constexpr std::uint8_t kStatusInvalidAdapter = 0x81;
inline constexpr std::uint8_t kStatusNoDevice = 0x82;
inline constexpr std::uint8_t kStatusInvalidRequest = 0xE0;

inline constexpr std::uint8_t kFlagDataIn = 0x08;
inline constexpr std::uint8_t kFlagDataOut = 0x10;
inline constexpr std::uint8_t kFlagEventNotify = 0x40;

inline constexpr std::uint8_t kAdapterDataOverrun = 0x12;

#pragma pack(push, 1)
struct TRequestHeader {
  std::uint8_t Command;
  std::uint8_t Status;
  std::uint8_t Adapter;
  std::uint8_t Flags;
  std::uint32_t Reserved;
};

struct TAdapterInquiry {
  TRequestHeader Header;
  std::uint8_t AdapterCount;
  std::uint8_t AdapterScsiId;
  std::uint8_t ManagerId[16];
  std::uint8_t AdapterId[16];
  std::uint8_t Unique[16];
  std::uint16_t Reserved;
};

struct TDeviceType {
  TRequestHeader Header;
  std::uint8_t Target;
  std::uint8_t Lun;
  std::uint8_t DeviceType;
  std::uint8_t Reserved;
};

struct TDiskInfo {
  TRequestHeader Header;
  std::uint8_t Target;
  std::uint8_t Lun;
  std::uint8_t DriveFlags;
  std::uint8_t Int13DriveInfo;
  std::uint8_t Heads;
  std::uint8_t Sectors;
  std::uint8_t Reserved[10];
};

struct TExecuteCommand {
  TRequestHeader Header;
  std::uint8_t Target;
  std::uint8_t Lun;
  std::uint16_t Reserved1;
  std::uint32_t BufferLength;
  std::uint8_t* Buffer;
  std::uint8_t SenseLength;
  std::uint8_t CdbLength;
  std::uint8_t AdapterStatus;
  std::uint8_t TargetStatus;
#if UINTPTR_MAX > 0xFFFFFFFFu
  std::uint32_t Align;
#endif
  void* Completion;
  std::uint8_t Reserved2[20];
  std::uint8_t Cdb[16];
  std::uint8_t Sense[32];
};
#pragma pack(pop)

static_assert(sizeof(TAdapterInquiry) == 60);
static_assert(sizeof(TDiskInfo) == 24);
#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(TExecuteCommand) == 108);
static_assert(offsetof(TExecuteCommand, Completion) == 32);
static_assert(offsetof(TExecuteCommand, Cdb) == 60);
#else
static_assert(sizeof(TExecuteCommand) == 96);
static_assert(offsetof(TExecuteCommand, Completion) == 24);
static_assert(offsetof(TExecuteCommand, Cdb) == 48);
#endif

// What a host passes in the completion field when it asks to be told of the
// end of a request: the library calls Signal(event) once, after the request
// block holds its final status, and touches neither afterwards. Windows hosts
// pass an event handle instead. Signal takes the event as a plain pointer, so
// the host's function is called through its own type.
extern "C" {
struct TCompletionEvent {
  void (*Signal)(void* Event);
  void* Context;
};
}

}  // namespace velmor::aspi
