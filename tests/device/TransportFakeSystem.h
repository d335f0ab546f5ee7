#pragma once
// Optical drives that exist only in the test: the pass-through's system calls
// are replaced by ones that answer from a table of fake drives.
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/platform/PassThrough.h"

namespace kilnor::test {

// A standard INQUIRY reply of Length bytes (at most 64) for an optical drive.
inline std::vector<std::uint8_t> InquiryReply(const std::string& Vendor, const std::string& Product,
                                              const std::string& Revision, std::size_t Length = 36,
                                              std::uint8_t Peripheral = 5) {
  std::vector<std::uint8_t> reply(64, 0);
  reply[0] = Peripheral;
  reply[4] = 31;
  const auto put = [&](std::size_t At, const std::string& Text, std::size_t Width) {
    for (std::size_t i = 0; i < Width; ++i)
      reply[At + i] = static_cast<std::uint8_t>(i < Text.size() ? Text[i] : ' ');
  };
  put(8, Vendor, 8);
  put(16, Product, 16);
  put(32, Revision, 4);
  reply.resize(Length);
  return reply;
}

struct TFakeSystemDrive {
  char Letter = 'C';
  bool BlockDevice = true;
  bool OpensReadWrite = true;
  bool OpensReadOnly = true;
  bool HasAddress = true;
  std::uint8_t Host = 0, Channel = 0, Target = 0, Lun = 0;
  std::vector<std::uint8_t> Inquiry;  // empty: INQUIRY ends in CHECK CONDITION
};

// How the drives answer every command other than INQUIRY.
struct TFakeAnswer {
  std::vector<std::uint8_t> Data;  // bytes a data-in command returns
  std::uint8_t Status = 0;
  std::uint16_t HostStatus = 0;
  std::uint8_t Asc = 0, Ascq = 0;  // sense written when non-zero
  int Errno = 0;                   // the ioctl itself fails with this
};

class TFakeSystem {
 public:
  explicit TFakeSystem(std::vector<TFakeSystemDrive> Drives) : Drives(std::move(Drives)) {
    Current = this;
    platform::SetPassThroughOps(&kOps);
  }
  ~TFakeSystem() {
    platform::SetPassThroughOps(nullptr);
    Current = nullptr;
  }
  TFakeSystem(const TFakeSystem&) = delete;
  TFakeSystem& operator=(const TFakeSystem&) = delete;

  std::vector<TFakeSystemDrive> Drives;
  TFakeAnswer Answer;
  bool StandardInputClosed = false;  // the next open returns 0

  int Opens = 0;
  std::vector<int> Closed;
  std::map<int, char> OpenHandles;
  int CommandsSent = 0;  // SG_IO calls other than INQUIRY
  sg_io_hdr_t LastHeader{};
  std::vector<std::uint8_t> LastCdb;

 private:
  static inline TFakeSystem* Current = nullptr;

  TFakeSystemDrive* DriveAt(const char* Path) {
    for (TFakeSystemDrive& drive : Drives)
      if (platform::DrivePath(drive.Letter) == Path) return &drive;
    return nullptr;
  }
  TFakeSystemDrive* DriveOf(int Handle) {
    auto open = OpenHandles.find(Handle);
    if (open == OpenHandles.end()) return nullptr;
    for (TFakeSystemDrive& drive : Drives)
      if (drive.Letter == open->second) return &drive;
    return nullptr;
  }

  static int Stat(const char* Path, struct stat* Info) {
    TFakeSystemDrive* drive = Current->DriveAt(Path);
    if (!drive) {
      errno = ENOENT;
      return -1;
    }
    *Info = {};
    Info->st_mode = drive->BlockDevice ? S_IFBLK : S_IFREG;
    return 0;
  }

  static int Open(const char* Path, int Flags) {
    TFakeSystemDrive* drive = Current->DriveAt(Path);
    const bool readWrite = (Flags & O_ACCMODE) == O_RDWR;
    if (!drive || !(readWrite ? drive->OpensReadWrite : drive->OpensReadOnly)) {
      errno = drive ? EACCES : ENOENT;
      return -1;
    }
    ++Current->Opens;
    int handle = 100 + Current->Opens;
    if (Current->StandardInputClosed) {
      Current->StandardInputClosed = false;
      handle = 0;
    }
    Current->OpenHandles[handle] = drive->Letter;
    return handle;
  }

  static int Close(int Handle) {
    Current->Closed.push_back(Handle);
    if (Current->OpenHandles.erase(Handle) == 0) {
      errno = EBADF;
      return -1;
    }
    return 0;
  }

  static int Ioctl(int Handle, unsigned long Request, void* Argument) {
    TFakeSystemDrive* drive = Current->DriveOf(Handle);
    if (!drive) {
      errno = EBADF;
      return -1;
    }
    if (Request == SCSI_IOCTL_GET_IDLUN) {
      if (!drive->HasAddress) {
        errno = EINVAL;
        return -1;
      }
      auto* idlun = static_cast<int*>(Argument);
      idlun[0] = drive->Target | drive->Lun << 8 | drive->Channel << 16 | drive->Host << 24;
      return 0;
    }
    if (Request == SG_GET_SCSI_ID) {
      errno = ENOTTY;
      return -1;
    }
    if (Request != SG_IO) {
      errno = ENOTTY;
      return -1;
    }
    auto& header = *static_cast<sg_io_hdr_t*>(Argument);
    const bool inquiry = header.cmdp[0] == 0x12;
    if (!inquiry) {
      ++Current->CommandsSent;
      Current->LastHeader = header;
      Current->LastCdb.assign(header.cmdp, header.cmdp + header.cmd_len);
    }
    TFakeAnswer answer = Current->Answer;
    if (inquiry) answer = drive->Inquiry.empty()
                              ? TFakeAnswer{{}, 0x02, 0, 0x24, 0x00, 0}
                              : TFakeAnswer{drive->Inquiry, 0, 0, 0, 0, 0};
    if (answer.Errno != 0) {
      errno = answer.Errno;
      return -1;
    }
    std::size_t copied = 0;
    if (header.dxfer_direction == SG_DXFER_FROM_DEV) {
      copied = std::min<std::size_t>(answer.Data.size(), header.dxfer_len);
      std::copy_n(answer.Data.begin(), copied, static_cast<std::uint8_t*>(header.dxferp));
    } else if (header.dxfer_direction == SG_DXFER_TO_DEV) {
      copied = header.dxfer_len;
    }
    header.resid = static_cast<int>(header.dxfer_len - copied);
    header.status = answer.Status;
    header.host_status = answer.HostStatus;
    header.sb_len_wr = 0;
    if (answer.Asc != 0 && header.mx_sb_len >= 14) {
      std::uint8_t* sense = header.sbp;
      std::memset(sense, 0, header.mx_sb_len);
      sense[0] = 0x70;
      sense[2] = 0x02;
      sense[7] = 10;
      sense[12] = answer.Asc;
      sense[13] = answer.Ascq;
      header.sb_len_wr = 18;
    }
    header.info = answer.Status != 0 || answer.HostStatus != 0 ? SG_INFO_CHECK : SG_INFO_OK;
    return 0;
  }

  static constexpr platform::TPassThroughOps kOps{&Open, &Close, &Ioctl, &Stat};
};

}  // namespace kilnor::test
