#include "engine/platform/PassThrough.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#else
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kilnor::platform {

namespace {

[[nodiscard]] bool IsDriveLetter(char Letter) {
  return Letter >= kFirstDriveLetter && Letter <= kLastDriveLetter;
}

[[nodiscard]] bool IsWellFormed(const TPassThroughCommand& Command) {
  if (Command.Cdb == nullptr || Command.CdbLength == 0 || Command.CdbLength > 16) return false;
  if (Command.Direction != TTransferDirection::None && Command.DataLength > 0 &&
      Command.Data == nullptr)
    return false;
  return Command.SenseLength == 0 || Command.Sense != nullptr;
}

}  // namespace

#ifdef _WIN32

std::string DrivePath(char Letter) { return std::string("\\\\.\\") + Letter + ':'; }

std::uint32_t DriveType(char Letter) {
  if (!IsDriveLetter(Letter)) return kDriveTypeNoRoot;
  if ((GetLogicalDrives() & (1u << (Letter - 'A'))) == 0) return kDriveTypeNoRoot;
  const wchar_t root[] = {static_cast<wchar_t>(Letter), L':', L'\\', L'\0'};
  return GetDriveTypeW(root);
}

TDriveOpen OpenDrive(char Letter, TDriveAccess Access) {
  if (!IsDriveLetter(Letter)) return {kNoDriveHandle, ERROR_INVALID_DRIVE};
  const bool readWrite = Access == TDriveAccess::ReadWrite;
  const wchar_t path[] = {L'\\', L'\\', L'.', L'\\', static_cast<wchar_t>(Letter), L':', L'\0'};
  HANDLE handle = CreateFileW(path,
                              readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              readWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, readWrite ? FILE_ATTRIBUTE_NORMAL : 0,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {kNoDriveHandle, GetLastError()};
  // Kernel handles carry 32 significant bits, so they fit the record's int.
  return {HandleToLong(handle), 0};
}

bool CloseDrive(int Handle) {
  if (Handle < 1) return true;
  return CloseHandle(LongToHandle(Handle)) != 0;
}

bool GetDriveAddress(int Handle, TDriveAddress& Address) {
  SCSI_ADDRESS reply{};
  reply.Length = sizeof reply;
  DWORD returned = 0;
  if (!DeviceIoControl(LongToHandle(Handle), IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &reply,
                       sizeof reply, &returned, nullptr))
    return false;
  Address = {reply.PortNumber, reply.PathId, reply.TargetId, reply.Lun};
  return true;
}

namespace {
struct TSptdWithSense {
  SCSI_PASS_THROUGH_DIRECT Sptd;
  ULONG Filler;
  UCHAR Sense[32];
};
}  // namespace

TPassThroughResult ExecutePassThrough(int Handle, const TPassThroughCommand& Command) {
  TPassThroughResult result;
  if (!IsWellFormed(Command)) return result;
  TSptdWithSense request{};
  SCSI_PASS_THROUGH_DIRECT& sptd = request.Sptd;
  sptd.Length = sizeof sptd;
  sptd.CdbLength = Command.CdbLength;
  sptd.SenseInfoLength = std::min<UCHAR>(Command.SenseLength, sizeof request.Sense);
  sptd.DataIn = Command.Direction == TTransferDirection::In    ? SCSI_IOCTL_DATA_IN
                : Command.Direction == TTransferDirection::Out ? SCSI_IOCTL_DATA_OUT
                                                               : SCSI_IOCTL_DATA_UNSPECIFIED;
  sptd.DataTransferLength = Command.Direction == TTransferDirection::None ? 0 : Command.DataLength;
  sptd.TimeOutValue = Command.TimeoutSeconds;
  sptd.DataBuffer = Command.Data;
  sptd.SenseInfoOffset = offsetof(TSptdWithSense, Sense);
  std::memcpy(sptd.Cdb, Command.Cdb, Command.CdbLength);
  DWORD returned = 0;
  result.Delivered = DeviceIoControl(LongToHandle(Handle), IOCTL_SCSI_PASS_THROUGH_DIRECT,
                                     &request, sizeof request, &request, sizeof request,
                                     &returned, nullptr) != 0;
  result.SystemError = result.Delivered ? 0 : GetLastError();
  result.ScsiStatus = sptd.ScsiStatus;
  result.Transferred = result.Delivered ? sptd.DataTransferLength : 0;
  if (Command.SenseLength > 0) std::memcpy(Command.Sense, request.Sense, sptd.SenseInfoLength);
  return result;
}

#else

namespace {

int SystemOpen(const char* Path, int Flags) { return ::open(Path, Flags); }
int SystemIoctl(int Handle, unsigned long Request, void* Argument) {
  return ::ioctl(Handle, Request, Argument);
}
int SystemStat(const char* Path, struct stat* Info) { return ::stat(Path, Info); }

constexpr TPassThroughOps kSystemOps{&SystemOpen, &::close, &SystemIoctl, &SystemStat};
const TPassThroughOps* ActiveOps = &kSystemOps;

constexpr unsigned kTransportErrorCode = EIO;

[[nodiscard]] int OpenFlags(TDriveAccess Access) {
  // O_NONBLOCK: an optical drive must open without a medium in it.
  return (Access == TDriveAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
}

[[nodiscard]] int SgDirection(TTransferDirection Direction) {
  switch (Direction) {
    case TTransferDirection::In: return SG_DXFER_FROM_DEV;
    case TTransferDirection::Out: return SG_DXFER_TO_DEV;
    case TTransferDirection::None: break;
  }
  return SG_DXFER_NONE;
}

}  // namespace

void SetPassThroughOps(const TPassThroughOps* Ops) { ActiveOps = Ops ? Ops : &kSystemOps; }

std::string DrivePath(char Letter) {
  return "/dev/sr" + std::to_string(Letter - kFirstDriveLetter);
}

std::uint32_t DriveType(char Letter) {
  if (!IsDriveLetter(Letter)) return kDriveTypeNoRoot;
  struct stat info{};
  if (ActiveOps->Stat(DrivePath(Letter).c_str(), &info) != 0) return kDriveTypeNoRoot;
  return S_ISBLK(info.st_mode) ? kDriveTypeCdRom : 0;
}

TDriveOpen OpenDrive(char Letter, TDriveAccess Access) {
  if (!IsDriveLetter(Letter)) return {kNoDriveHandle, ENODEV};
  const std::string path = DrivePath(Letter);
  int handle = ActiveOps->Open(path.c_str(), OpenFlags(Access));
  if (handle == 0) {
    // Standard input was closed and the drive took its place. Opening again
    // while 0 is held lands above it; 0 is then released.
    const int again = ActiveOps->Open(path.c_str(), OpenFlags(Access));
    const int error = errno;
    ActiveOps->Close(0);
    handle = again;
    errno = error;
  }
  if (handle < 0) return {kNoDriveHandle, static_cast<std::uint32_t>(errno)};
  return {handle, 0};
}

bool CloseDrive(int Handle) {
  if (Handle < 1) return true;
  return ActiveOps->Close(Handle) == 0;
}

bool GetDriveAddress(int Handle, TDriveAddress& Address) {
  struct {
    int DeviceId;
    int HostUniqueId;
  } idlun{};
  if (ActiveOps->Ioctl(Handle, SCSI_IOCTL_GET_IDLUN, &idlun) == 0) {
    // dev_id packs target, lun, channel and host number, one byte each.
    const auto id = static_cast<std::uint32_t>(idlun.DeviceId);
    Address = {static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
               static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)};
    return true;
  }
  sg_scsi_id scsiId{};
  if (ActiveOps->Ioctl(Handle, SG_GET_SCSI_ID, &scsiId) == 0) {
    Address = {static_cast<std::uint8_t>(scsiId.host_no), static_cast<std::uint8_t>(scsiId.channel),
               static_cast<std::uint8_t>(scsiId.scsi_id), static_cast<std::uint8_t>(scsiId.lun)};
    return true;
  }
  return false;
}

TPassThroughResult ExecutePassThrough(int Handle, const TPassThroughCommand& Command) {
  TPassThroughResult result;
  if (!IsWellFormed(Command)) {
    result.SystemError = EINVAL;
    return result;
  }
  std::uint8_t cdb[16] = {};
  std::memcpy(cdb, Command.Cdb, Command.CdbLength);
  const bool moves = Command.Direction != TTransferDirection::None;
  sg_io_hdr_t header{};
  header.interface_id = 'S';
  header.dxfer_direction = moves ? SgDirection(Command.Direction) : SG_DXFER_NONE;
  header.cmd_len = Command.CdbLength;
  header.mx_sb_len = Command.SenseLength;
  header.dxfer_len = moves ? Command.DataLength : 0;
  header.dxferp = moves ? Command.Data : nullptr;
  header.cmdp = cdb;
  header.sbp = Command.Sense;
  header.timeout = Command.TimeoutSeconds * 1000u;
  if (ActiveOps->Ioctl(Handle, SG_IO, &header) != 0) {
    result.SystemError = static_cast<std::uint32_t>(errno);
    return result;
  }
  result.Delivered = true;
  result.ScsiStatus = header.status;
  result.HostStatus = static_cast<std::uint8_t>(header.host_status);
  // A command the adapter or driver could not complete must not pass for a
  // good one merely because the target never returned a status.
  result.TransportFailed = header.status == 0 && (header.info & SG_INFO_OK_MASK) != SG_INFO_OK;
  if (result.TransportFailed) result.SystemError = kTransportErrorCode;
  const int resid = std::clamp(header.resid, 0, static_cast<int>(header.dxfer_len));
  result.Transferred = header.dxfer_len - static_cast<std::uint32_t>(resid);
  return result;
}

#endif

}  // namespace kilnor::platform
