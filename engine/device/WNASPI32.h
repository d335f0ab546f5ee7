#pragma once
// Request blocks of the ASPI interface. The execute-command block is also the
// one description of a SCSI command whatever the transport.
#include <cstddef>
#include <cstdint>

namespace kilnor {

inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SC_GET_DISK_INFO = 0x06;

inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ERR = 0x04;

inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

inline constexpr std::uint8_t STATUS_CHKCOND = 0x02;
inline constexpr std::uint8_t STATUS_BUSY = 0x08;

inline constexpr std::uint8_t kSenseLength = 24;

#pragma pack(push, 1)
// On a 32-bit build the buffer and event fields are 4 bytes and the block is
// the 96-byte layout ASPI libraries expect. A 64-bit address does not fit 4
// bytes, so there the two fields are pointer-sized and the block grows.
struct TSRB_ExecSCSICmd {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
#if UINTPTR_MAX > 0xFFFFFFFFu
  std::uint32_t SRB_Align2;
#endif
  void* SRB_PostProc;
  std::uint8_t SRB_Rsvd2[20];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[32];
};

struct TSRB_HAInquiry {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];
  std::uint16_t HA_Rsvd1;
};

struct TSRB_GetDiskInfo {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_DriveFlags;
  std::uint8_t SRB_Int13HDriveInfo;
  std::uint8_t SRB_Heads;
  std::uint8_t SRB_Sectors;
  std::uint8_t SRB_Rsvd1[10];
};
#pragma pack(pop)

#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(TSRB_ExecSCSICmd) == 108, "64-bit execute-command block");
static_assert(offsetof(TSRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(TSRB_ExecSCSICmd, SRB_PostProc) == 32);
static_assert(offsetof(TSRB_ExecSCSICmd, CDBByte) == 60);
#else
static_assert(sizeof(TSRB_ExecSCSICmd) == 96, "ASPI execute-command block");
static_assert(offsetof(TSRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(TSRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(TSRB_ExecSCSICmd, CDBByte) == 48);
#endif
static_assert(sizeof(TSRB_HAInquiry) == 60);
static_assert(sizeof(TSRB_GetDiskInfo) == 24);

// Completion of a request sent with SRB_EVENT_NOTIFY. SRB_PostProc points to
// a TAspiEvent owned by the sender. The library finishes the request (reply
// data, SRB_Status, SRB_TargStat, SenseArea), then calls Event->Signal(Event)
// exactly once, from any thread, whether SendASPI32Command returned pending (0)
// or a final status. After that call the library must not touch the request
// block or the event again: the sender may free both as soon as it is woken.
// The library never reads Context; it belongs to the sender. On Windows
// SRB_PostProc is instead a manual-reset event handle, which the library
// signals with SetEvent, as ASPI libraries there expect. Signal takes the
// event as a plain pointer: a library declares its own copy of this record,
// and calls through exactly the function type the sender's function has.
extern "C" {
struct TAspiEvent {
  void (*Signal)(void* Event);
  void* Context;
};
}

// The two entry points of an ASPI library.
using GetASPI32SupportInfoFn = std::uint32_t (*)();
using SendASPI32CommandFn = std::uint32_t (*)(void* srb);

}  // namespace kilnor
