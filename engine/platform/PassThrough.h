#pragma once
// The system's SCSI pass-through: drives are named by letter, C being the
// first optical drive (/dev/sr0 on Linux, \\.\C: on Windows), and a command
// goes straight from the caller's buffer to the drive.
#include <cstdint>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kilnor::platform {

inline constexpr int kNoDriveHandle = -1;
inline constexpr std::uint32_t kDriveTypeNoRoot = 1;
inline constexpr std::uint32_t kDriveTypeCdRom = 5;
inline constexpr char kFirstDriveLetter = 'C';
inline constexpr char kLastDriveLetter = 'Z';

// The system's name for the drive of a letter, e.g. "/dev/sr1" for 'D'.
[[nodiscard]] std::string DrivePath(char Letter);

// The kind of drive a letter names: kDriveTypeCdRom for an optical drive,
// kDriveTypeNoRoot when there is none, another system drive type otherwise.
[[nodiscard]] std::uint32_t DriveType(char Letter);

enum class TDriveAccess : std::uint8_t { ReadWrite, ReadOnly };

struct TDriveOpen {
  int Handle = kNoDriveHandle;
  std::uint32_t SystemError = 0;  // why the open failed
};
// Opens the drive of a letter. A handle is never 0 (which is standard input),
// so 0 and -1 both mean "not open" to every caller.
[[nodiscard]] TDriveOpen OpenDrive(char Letter, TDriveAccess Access);
// Closes Handle; handles below 1 are ignored. False when closing failed.
bool CloseDrive(int Handle);

// Where the drive sits on its host adapter.
struct TDriveAddress {
  std::uint8_t PortNumber = 0;
  std::uint8_t PathId = 0;
  std::uint8_t TargetId = 0;
  std::uint8_t Lun = 0;
};
[[nodiscard]] bool GetDriveAddress(int Handle, TDriveAddress& Address);

enum class TTransferDirection : std::uint8_t { None, In, Out };

struct TPassThroughCommand {
  const std::uint8_t* Cdb = nullptr;
  std::uint8_t CdbLength = 0;  // 1..16
  TTransferDirection Direction = TTransferDirection::None;
  void* Data = nullptr;
  std::uint32_t DataLength = 0;
  std::uint8_t* Sense = nullptr;  // receives up to SenseLength bytes
  std::uint8_t SenseLength = 0;
  std::uint32_t TimeoutSeconds = 0;
};

struct TPassThroughResult {
  bool Delivered = false;         // the system accepted and ran the call
  bool TransportFailed = false;   // the adapter or driver reported an error
  std::uint8_t ScsiStatus = 0;    // status byte of the target
  std::uint8_t HostStatus = 0;
  std::uint32_t SystemError = 0;  // system error code of the call, 0 when none
  std::uint32_t Transferred = 0;  // data bytes actually moved
  [[nodiscard]] bool Succeeded() const { return Delivered && !TransportFailed && ScsiStatus == 0; }
};
// Sends one command. A malformed command (CDB length outside 1..16, data
// length without a buffer) is not sent and comes back undelivered.
[[nodiscard]] TPassThroughResult ExecutePassThrough(int Handle, const TPassThroughCommand& Command);

#ifndef _WIN32
// The system calls the pass-through goes through, replaceable so that tests
// can stand in for a drive. errno carries the reason of a failure.
struct TPassThroughOps {
  int (*Open)(const char* Path, int Flags);
  int (*Close)(int Handle);
  int (*Ioctl)(int Handle, unsigned long Request, void* Argument);
  int (*Stat)(const char* Path, struct stat* Info);
};
// Replaces the system calls; null restores the real ones. For tests: not
// to be changed while a command runs.
void SetPassThroughOps(const TPassThroughOps* Ops);
#endif

}  // namespace kilnor::platform
