#include "engine/device/SCSILib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "engine/device/Commands.h"
#include "engine/device/Media.h"
#include "engine/device/Settle.h"
#include "engine/platform/Event.h"
#include "engine/platform/PassThrough.h"

namespace kilnor {

namespace {

using platform::TDriveAccess;
using platform::TDriveAddress;

constexpr std::uint32_t kPassThroughTimeoutSeconds = 12000;
#ifdef _WIN32
constexpr const char* kDefaultASPILibrary = "WNASPI32.DLL";
constexpr const char* kEmulatedRecorderLibrary = "velmor-recorder.dll";
#else
constexpr const char* kDefaultASPILibrary = "libwnaspi32.so";
constexpr const char* kEmulatedRecorderLibrary = "libvelmor-recorder.so";
#endif
constexpr std::uint8_t kCdRomDeviceType = 5;
constexpr std::uint8_t kAspiTargets = 8;
constexpr std::uint8_t kAspiLuns = 7;
constexpr std::uint8_t kAspiDefaultAdapters = 7;
constexpr std::size_t kTopSlot = kMaxDevices - 1;

// The identification a drive gave in its INQUIRY reply, cleaned for display.
struct TInquiryText {
  std::string Vendor;
  std::string Product;
  std::string Revision;
};

// A request's completion event, as the ASPI library receives it in
// SRB_PostProc: a system event object on Windows, a TAspiEvent elsewhere.
struct TCompletion {
  platform::TEvent Done;
#ifdef _WIN32
  [[nodiscard]] void* PostProc() { return Done.NativeHandle(); }
#else
  TAspiEvent Hook{&SignalCompletion, &Done};
  [[nodiscard]] void* PostProc() { return &Hook; }

  static void SignalCompletion(void* Event) {
    static_cast<platform::TEvent*>(static_cast<TAspiEvent*>(Event)->Context)->Set();
  }
#endif
};

[[nodiscard]] bool IsOpenHandle(int Handle) { return Handle > 0; }

void ClosePassThroughHandle(TSCSIDevice& Dev) {
  if (IsOpenHandle(Dev.Handle)) platform::CloseDrive(Dev.Handle);
  Dev.Handle = platform::kNoDriveHandle;
}

// Bytes First..Last of a reply, limited to what the drive returned, with
// control characters shown as blanks.
[[nodiscard]] std::string ReplyText(const std::uint8_t* Reply, std::uint32_t Returned,
                                    std::uint32_t First, std::uint32_t Last) {
  std::string text;
  for (std::uint32_t i = First; i <= Last && i < Returned; ++i)
    text += Reply[i] < 0x20 ? ' ' : static_cast<char>(Reply[i]);
  return text;
}

[[nodiscard]] TInquiryText ParseInquiry(const std::uint8_t* Reply, std::uint32_t Returned) {
  return {ReplyText(Reply, Returned, 8, 15), ReplyText(Reply, Returned, 16, 31),
          ReplyText(Reply, Returned, 32, 35)};
}

[[nodiscard]] bool IsCdRomReply(const std::uint8_t* Reply, std::uint32_t Returned) {
  return Returned > 0 && Reply[0] == kCdRomDeviceType;
}

void WriteDescription(TDeviceEntry& Entry, unsigned Port, unsigned Target, unsigned Lun,
                      const TInquiryText& Text) {
  std::snprintf(Entry.Description, sizeof Entry.Description, "%u:%u:%u,%c: %s %s %s ", Port,
                Target, Lun, Entry.DriveLetter, Text.Vendor.c_str(), Text.Product.c_str(),
                Text.Revision.c_str());
}

// A fresh INQUIRY request into the record's reply buffer, cleared first so
// that nothing of an earlier reply can be read as this one.
[[nodiscard]] TSRB_ExecSCSICmd InquiryRequest(TSCSIDevice& Dev) {
  std::fill_n(Dev.tmpBuffer.begin(), kInquiryLength, std::uint8_t{0});
  TSRB_ExecSCSICmd srb = MakeSRB(TDataDirection::In, 6, Dev.tmpBuffer.data(), kInquiryLength);
  srb.CDBByte[0] = 0x12;
  srb.CDBByte[4] = kInquiryLength;
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_SenseLen = kSenseLength;
  return srb;
}

[[nodiscard]] platform::TTransferDirection TransferDirection(std::uint8_t Flags) {
  if (Flags & SRB_DIR_IN) return platform::TTransferDirection::In;
  if (Flags & SRB_DIR_OUT) return platform::TTransferDirection::Out;
  return platform::TTransferDirection::None;
}

[[nodiscard]] platform::TDriveOpen OpenForCommands(char Letter) {
  platform::TDriveOpen opened = platform::OpenDrive(Letter, TDriveAccess::ReadWrite);
  if (opened.Handle == platform::kNoDriveHandle)
    opened = platform::OpenDrive(Letter, TDriveAccess::ReadOnly);
  return opened;
}

// One command through the system pass-through to the drive of DriveLetter.
// Never pending: the status is final (1 or 4).
std::uint8_t SPTIExecute(TSCSIDevice& Dev, TSRB_ExecSCSICmd& Srb) {
  if (!IsOpenHandle(Dev.Handle)) Dev.Handle = OpenForCommands(Dev.DriveLetter).Handle;
  std::uint8_t sense[sizeof Srb.SenseArea] = {};
  platform::TPassThroughCommand command;
  command.Cdb = Srb.CDBByte;
  command.CdbLength = Srb.SRB_CDBLen;
  command.Direction = TransferDirection(Srb.SRB_Flags);
  command.Data = Srb.SRB_BufPointer;
  command.DataLength = Srb.SRB_BufLen;
  command.Sense = sense;
  command.SenseLength = std::min<std::uint8_t>(Srb.SRB_SenseLen, sizeof sense);
  command.TimeoutSeconds = kPassThroughTimeoutSeconds;
  const platform::TPassThroughResult result = platform::ExecutePassThrough(Dev.Handle, command);
  Dev.LastWinError = result.SystemError;
  Dev.LastTransferLength = result.Transferred;
  if (result.Succeeded()) {
    Srb.SRB_Status = SS_COMP;
  } else {
    Srb.SRB_Status = SS_ERR;
    std::memcpy(Srb.SenseArea, sense, command.SenseLength);
    Srb.SRB_TargStat = result.ScsiStatus;
    Srb.SRB_HaStat = result.HostStatus;
  }
  if (Dev.CloseFH && IsOpenHandle(Dev.Handle) && platform::CloseDrive(Dev.Handle))
    Dev.Handle = platform::kNoDriveHandle;
  return Srb.SRB_Status;
}

// Sends a request to the ASPI library and waits for it to complete.
// SRB_Status is final afterwards.
void SendAspiAndWait(SendASPI32CommandFn Send, TSRB_ExecSCSICmd& Srb) {
  TCompletion completion;
  Srb.SRB_PostProc = completion.PostProc();
  if (static_cast<std::uint8_t>(Send(&Srb)) == SS_PENDING) completion.Done.Wait();
  Srb.SRB_PostProc = nullptr;
}

void ClearReplyBuffer(TSRB_ExecSCSICmd& Srb) {
  if ((Srb.SRB_Flags & SRB_DIR_IN) && Srb.SRB_BufPointer && Srb.SRB_BufLen > 0)
    std::memset(Srb.SRB_BufPointer, 0, Srb.SRB_BufLen);
}

// Zeroes the record as a fresh start, keeping what the component set in it.
void ResetRecord(TSCSIDevice& Dev) {
  CloseDevice(Dev);
  const bool burnProof = Dev.BurnProof;
  TNotificationQueue* const notifications = Dev.hWNDFE;
  std::destroy_at(&Dev);
  std::construct_at(&Dev);
  Dev.BurnProof = burnProof;
  Dev.hWNDFE = notifications;
}

// --- pass-through enumeration ---

// One line of the enumeration log (nothing when no log is open).
void LogEnumeration(TSCSIDevice& Dev, const std::string& Text) { Dev.fdbg.Write(Text + "\r\n"); }

// Read-write first, read-only when that is refused; every refusal is logged.
[[nodiscard]] int OpenForEnumeration(TSCSIDevice& Dev, char Letter) {
  for (TDriveAccess access : {TDriveAccess::ReadWrite, TDriveAccess::ReadOnly}) {
    const platform::TDriveOpen opened = platform::OpenDrive(Letter, access);
    if (opened.Handle != platform::kNoDriveHandle) return opened.Handle;
    LogEnumeration(Dev, "System Error Code: " + std::to_string(opened.SystemError));
  }
  LogEnumeration(Dev, ")");
  return platform::kNoDriveHandle;
}

[[nodiscard]] TInquiryText InquireDuringEnumeration(TSCSIDevice& Dev) {
  TSRB_ExecSCSICmd srb = InquiryRequest(Dev);
  const auto send = [&](TSRB_ExecSCSICmd& Request) { return SPTIExecute(Dev, Request); };
  if (SendUntilSettled(srb, send) != SS_COMP) return {};
  if (!IsCdRomReply(Dev.tmpBuffer.data(), Dev.LastTransferLength)) return {};
  return ParseInquiry(Dev.tmpBuffer.data(), Dev.LastTransferLength);
}

// Drives without an address were listed from the top of the table; they get
// host-adapter numbers above every real one and follow the addressed drives,
// the first one found first.
void AppendUnaddressedDrives(TSCSIDevice& Dev, std::size_t Count) {
  const std::size_t lowestTopSlot = kMaxDevices - Count;
  unsigned next = 0;
  for (std::size_t i = 0; i < Dev.NoOfDevices; ++i)
    next = std::max<unsigned>(next, Dev.Devices[i].HaID);
  ++next;
  std::array<TDeviceEntry, kMaxDevices> moved;
  for (std::size_t i = 0; i < Count; ++i) {
    TDeviceEntry entry = Dev.Devices[kTopSlot - i];
    entry.HaID = static_cast<std::uint8_t>(next);
    const char* rest = std::strchr(entry.Description, ',');
    char description[sizeof entry.Description];
    std::snprintf(description, sizeof description, "%u:0:0%s", unsigned{entry.HaID}, rest ? rest : ",");
    std::memcpy(entry.Description, description, sizeof description);
    moved[i] = entry;
    ++next;
  }
  std::fill(Dev.Devices.begin() + static_cast<std::ptrdiff_t>(lowestTopSlot), Dev.Devices.end(),
            TDeviceEntry{});
  std::copy_n(moved.begin(), Count, Dev.Devices.begin() + Dev.NoOfDevices);
  Dev.NoOfDevices = static_cast<std::uint8_t>(Dev.NoOfDevices + Count);
}

// Lists the opened drive of Letter: at the bottom of the table when it has
// an address, else from the top; then identifies it and closes Handle.
void ListPassThroughDrive(TSCSIDevice& Dev, char Letter, int Handle, std::size_t& Unaddressed) {
  TDriveAddress address;
  const bool addressed = platform::GetDriveAddress(Handle, address);
  if (!addressed) address = {};
  TDeviceEntry& entry =
      addressed ? Dev.Devices[Dev.NoOfDevices++] : Dev.Devices[kTopSlot - Unaddressed++];
  entry = TDeviceEntry{};
  entry.DriveLetter = Letter;
  entry.DeviceType = kCdRomDeviceType;
  entry.HaID = address.PortNumber;
  entry.Target = address.TargetId;
  entry.Lun = address.Lun;
  Dev.DriveLetter = Letter;
  Dev.Handle = Handle;
  WriteDescription(entry, address.PortNumber, address.TargetId, address.Lun,
                   InquireDuringEnumeration(Dev));
  LogEnumeration(Dev, Letter + std::string(": ") + std::to_string(platform::kDriveTypeCdRom) +
                          " - ( " + entry.Description + ")");
  ClosePassThroughHandle(Dev);
}

[[nodiscard]] bool EnumeratePassThrough(TSCSIDevice& Dev) {
  std::size_t unaddressed = 0;  // listed from the top slot downwards
  bool anyOpened = false;
  for (char letter = platform::kFirstDriveLetter; letter <= platform::kLastDriveLetter; ++letter) {
    if (Dev.NoOfDevices + unaddressed == kMaxDevices) break;
    const std::uint32_t driveType = platform::DriveType(letter);
    if (driveType != platform::kDriveTypeCdRom) {
      LogEnumeration(Dev, letter + std::string(": ( ") + std::to_string(driveType) + ")");
      continue;
    }
    const int handle = OpenForEnumeration(Dev, letter);
    if (handle == platform::kNoDriveHandle) continue;
    anyOpened = true;
    ListPassThroughDrive(Dev, letter, handle, unaddressed);
  }
  Dev.DriveLetter = '?';
  if (!anyOpened) return false;
  Dev.ASPIInitialized = true;
  Dev.UsingSPTI = true;
  AppendUnaddressedDrives(Dev, unaddressed);
  return true;
}

// --- ASPI enumeration ---

// The drive letter whose pass-through address is Entry's; none when no
// letter matches.
[[nodiscard]] std::optional<char> FindDriveLetter(const TDeviceEntry& Entry) {
  for (char letter = platform::kFirstDriveLetter; letter <= platform::kLastDriveLetter; ++letter) {
    const int handle = OpenForCommands(letter).Handle;
    if (handle == platform::kNoDriveHandle) continue;
    TDriveAddress address;
    const bool matches = platform::GetDriveAddress(handle, address) &&
                         address.PortNumber == Entry.HaID && address.TargetId == Entry.Target &&
                         address.Lun == Entry.Lun;
    platform::CloseDrive(handle);
    if (matches) return letter;
  }
  return std::nullopt;
}

[[nodiscard]] std::uint8_t AspiAdapterCount(SendASPI32CommandFn Send) {
  TSRB_HAInquiry inquiry{};
  inquiry.SRB_Cmd = SC_HA_INQUIRY;
  Send(&inquiry);
  return inquiry.HA_Count ? inquiry.HA_Count : kAspiDefaultAdapters;
}

[[nodiscard]] char AspiDriveLetter(SendASPI32CommandFn Send, const TDeviceEntry& Entry) {
  TSRB_GetDiskInfo info{};
  info.SRB_Cmd = SC_GET_DISK_INFO;
  info.SRB_HaId = Entry.HaID;
  info.SRB_Target = Entry.Target;
  info.SRB_Lun = Entry.Lun;
  // The library's drive number counts from A; one past Z names no letter.
  if (static_cast<std::uint8_t>(Send(&info)) == SS_COMP && info.SRB_Int13HDriveInfo < 26)
    return static_cast<char>('A' + info.SRB_Int13HDriveInfo);
  return FindDriveLetter(Entry).value_or('?');
}

void ProbeAspiDevice(TSCSIDevice& Dev, std::uint8_t Adapter, std::uint8_t Target,
                     std::uint8_t Lun) {
  TSRB_ExecSCSICmd srb = InquiryRequest(Dev);
  srb.SRB_HaId = Adapter;
  srb.SRB_Target = Target;
  srb.SRB_Lun = Lun;
  SendUntilSettled(srb, [&](TSRB_ExecSCSICmd& Request) {
    SendAspiAndWait(Dev.SendASPI32Command, Request);
    return Request.SRB_Status;
  });
  // The library does not say how much it returned: the reply buffer was
  // cleared, so the whole of it is read.
  if (srb.SRB_Status != SS_COMP || !IsCdRomReply(Dev.tmpBuffer.data(), kInquiryLength)) return;
  const TInquiryText text = ParseInquiry(Dev.tmpBuffer.data(), kInquiryLength);
  TDeviceEntry& entry = Dev.Devices[Dev.NoOfDevices];
  entry = TDeviceEntry{};
  entry.DeviceType = kCdRomDeviceType;
  entry.HaID = Adapter;
  entry.Target = Target;
  entry.Lun = Lun;
  entry.DriveLetter = AspiDriveLetter(Dev.SendASPI32Command, entry);
  WriteDescription(entry, Adapter, Target, Lun, text);
  ++Dev.NoOfDevices;
}

[[nodiscard]] bool LoadAspiLibrary(TSCSIDevice& Dev, const std::string& ASPIDLLPath) {
  for (const std::string& candidate : ASPILibraryCandidates(ASPIDLLPath))
    if (Dev.ASPILibrary.Load(candidate)) return true;
  return false;
}

[[nodiscard]] bool EnumerateAspi(TSCSIDevice& Dev, const std::string& ASPIDLLPath) {
  Dev.NoOfDevices = 0;
  if (!LoadAspiLibrary(Dev, ASPIDLLPath)) return false;
  auto supportInfo =
      reinterpret_cast<GetASPI32SupportInfoFn>(Dev.ASPILibrary.Symbol("GetASPI32SupportInfo"));
  auto send = reinterpret_cast<SendASPI32CommandFn>(Dev.ASPILibrary.Symbol("SendASPI32Command"));
  if (!supportInfo || !send || supportInfo() == 0) {
    Dev.ASPILibrary.Unload();
    return false;
  }
  Dev.SendASPI32Command = send;
  Dev.ASPIInitialized = true;
  const std::uint8_t adapters = AspiAdapterCount(send);
  for (unsigned adapter = 0; adapter < adapters; ++adapter)
    for (std::uint8_t target = 0; target < kAspiTargets; ++target)
      for (std::uint8_t lun = 0; lun < kAspiLuns; ++lun) {
        if (Dev.NoOfDevices == kMaxDevices) return true;
        ProbeAspiDevice(Dev, static_cast<std::uint8_t>(adapter), target, lun);
      }
  return true;
}

}  // namespace

TSRB_ExecSCSICmd MakeSRB(TDataDirection Direction, std::uint8_t CDBLength, void* Buffer,
                         std::uint32_t Length) {
  TSRB_ExecSCSICmd srb{};
  srb.SRB_Flags = static_cast<std::uint8_t>(Direction);
  srb.SRB_CDBLen = CDBLength;
  srb.SRB_BufLen = Length;
  srb.SRB_BufPointer = static_cast<std::uint8_t*>(Buffer);
  return srb;
}

std::string EmulatedRecorderLibrary() {
  const std::string programFolder = platform::ExecutableDirectory();
  return programFolder.empty() ? std::string() : programFolder + "/" + kEmulatedRecorderLibrary;
}

std::vector<std::string> ASPILibraryCandidates(const std::string& ASPIDLLPath) {
  if (!ASPIDLLPath.empty()) return {ASPIDLLPath};
  std::vector<std::string> candidates{kDefaultASPILibrary};
  if (std::string emulated = EmulatedRecorderLibrary(); !emulated.empty()) candidates.push_back(std::move(emulated));
  // An installed program finds the emulated recorder in its library folder.
  // The folder is named outright because a run path does not reach a
  // library loaded through an interposed loader (a sanitizer's runtime).
  if (const std::string programFolder = platform::ExecutableDirectory(); !programFolder.empty())
    candidates.push_back(programFolder + "/" VELMOR_RECORDER_FROM_PROGRAMS "/" + kEmulatedRecorderLibrary);
  candidates.emplace_back(kEmulatedRecorderLibrary);
  return candidates;
}

bool InitializeASPI(TSCSIDevice& Dev, bool NoInternalASPI, const std::string& ASPIDLLPath,
                    const std::string& Reserved1) {
  ResetRecord(Dev);
  // A log that cannot be created stays closed; the drives are listed anyway.
  if (!Reserved1.empty()) Dev.fdbg.Open(Reserved1);
  Dev.DoNotUseSPTI = NoInternalASPI;
  if (!Dev.DoNotUseSPTI && EnumeratePassThrough(Dev)) return true;
  return EnumerateAspi(Dev, ASPIDLLPath);
}

bool SelectDevice(TSCSIDevice& Dev, std::uint8_t DeviceIndex) {
  Dev.HaID = Dev.Target = Dev.Lun = kNoAddress;
  Dev.DeviceType = kNoAddress;
  Dev.DriveLetter = '?';
  Dev.Vendor[0] = '\0';
  Dev.ProductID[0] = '\0';
  Dev.bmWTotal = Dev.bmWSize = Dev.bmRTotal = Dev.bmRSize = 0;  // averages restart per selection
  if (DeviceIndex >= Dev.NoOfDevices) return false;
  const TDeviceEntry& entry = Dev.Devices[DeviceIndex];
  Dev.SelectedDevice = DeviceIndex;
  Dev.HaID = entry.HaID;
  Dev.Target = entry.Target;
  Dev.Lun = entry.Lun;
  Dev.DriveLetter = entry.DriveLetter;
  Dev.DeviceType = entry.DeviceType;
  ClosePassThroughHandle(Dev);

  std::array<std::uint8_t, 256> reply{};
  const bool identified = Inquiry(Dev, reply);
  if (identified) {
    const auto returned = std::min<std::size_t>(Dev.LastTransferLength, reply.size());
    const auto copyField = [&](char* Field, std::size_t First, std::size_t Size) {
      const std::size_t available = returned > First ? std::min(returned - First, Size) : 0;
      std::memcpy(Field, reply.data() + First, available);
      Field[available] = '\0';
    };
    copyField(Dev.Vendor, 8, sizeof Dev.Vendor - 1);
    copyField(Dev.ProductID, 16, sizeof Dev.ProductID - 1);
  }
  ReadCapabilities(Dev);
  return identified;
}

bool SelectDeviceByLetter(TSCSIDevice& Dev, char DriveLetter) {
  if (Dev.NoOfDevices == 0 || DriveLetter == '\0') return false;
  bool selected = false;
  for (std::uint8_t i = 0; i < Dev.NoOfDevices; ++i)
    if (Dev.Devices[i].DriveLetter == DriveLetter) selected = SelectDevice(Dev, i);
  return selected;
}

std::string GetDeviceName(const TSCSIDevice& Dev, std::uint8_t DeviceIndex) {
  if (DeviceIndex >= Dev.NoOfDevices) return {};
  const char* description = Dev.Devices[DeviceIndex].Description;
  return std::string(description, strnlen(description, sizeof Dev.Devices[DeviceIndex].Description));
}

std::uint8_t ExecSCSICommand(TSCSIDevice& Dev, TSRB_ExecSCSICmd& Srb) {
  const bool transportReady = Dev.UsingSPTI || Dev.SendASPI32Command != nullptr;
  if (!Dev.ASPIInitialized || !transportReady || Dev.HaID == kNoAddress ||
      Dev.Target == kNoAddress) {
    Srb.SRB_Status = SS_ERR;
    return SS_ERR;
  }
  Srb.SRB_HaId = Dev.HaID;
  Srb.SRB_Target = Dev.Target;
  Srb.SRB_Lun = Dev.Lun;
  Srb.SRB_SenseLen = kSenseLength;
  Srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  ClearReplyBuffer(Srb);
  Dev.LastTransferLength = 0;

  if (Dev.UsingSPTI) {
    SPTIExecute(Dev, Srb);
  } else {
    SendAspiAndWait(Dev.SendASPI32Command, Srb);
    Dev.LastTransferLength = Srb.SRB_Status == SS_COMP ? Srb.SRB_BufLen : 0;
  }

  // Judged on the final status: a request that was pending and then failed
  // on a busy target is as busy as one that failed at once.
  Dev.fdbg.WriteCommand(Srb, {Dev.UsingSPTI, Dev.LastWinError});
  Dev.TargetBusy = Srb.SRB_Status != SS_PENDING && Srb.SRB_Status != SS_COMP &&
                   Srb.SRB_TargStat == STATUS_BUSY;
  std::memcpy(&Dev.LastSenseInfo, Srb.SenseArea, sizeof Dev.LastSenseInfo);
  if (Dev.LastSenseInfo.AddSenseCode != 0) {
    Dev.DeviceError = static_cast<std::uint16_t>(Dev.LastSenseInfo.AddSenseCode * 256 +
                                                 Dev.LastSenseInfo.AddSenQual);
    Dev.DeviceErrorKey = Dev.LastSenseInfo.SenseKey & 0x0F;
  }
  return Srb.SRB_Status;
}

std::uint8_t ExecSCSICommandSettled(TSCSIDevice& Dev, TSRB_ExecSCSICmd& Srb) {
  const std::uint16_t error = Dev.DeviceError;
  const std::uint8_t key = Dev.DeviceErrorKey;
  const std::uint8_t status = SendUntilSettled(
      Srb, [&](TSRB_ExecSCSICmd& Request) { return ExecSCSICommand(Dev, Request); });
  if (status == SS_COMP) {
    Dev.DeviceError = error;
    Dev.DeviceErrorKey = key;
  }
  return status;
}

void CloseDevice(TSCSIDevice& Dev) {
  Dev.fdbg.Close();
  ClosePassThroughHandle(Dev);
}

}  // namespace kilnor
