#pragma once
// The device record: the drive table, the selected drive, its transport and
// the state the command set, detection, meters and erase keep about it.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/device/CommandLog.h"
#include "engine/device/DeviceTypes.h"
#include "engine/device/SCSIDefs.h"
#include "engine/device/WNASPI32.h"
#include "engine/events/Completions.h"
#include "engine/platform/DynamicLibrary.h"

namespace kilnor {

class TNotificationQueue;

inline constexpr std::size_t kMaxDevices = 26;
inline constexpr std::uint8_t kNoAddress = 0xFF;
inline constexpr std::size_t kSpeedRingSlots = 64;

struct TDeviceEntry {
  char DriveLetter = '?';
  std::uint8_t DeviceType = 0;
  std::uint8_t HaID = 0;
  std::uint8_t Target = 0;
  std::uint8_t Lun = 0;
  char Description[128] = {};
};

struct TSCSIDevice {
  int Handle = -1;                          // pass-through handle; -1 = not open
  TNotificationQueue* hWNDFE = nullptr;     // the component's queue; null = report directly
  std::array<std::uint8_t, 65535> tmpBuffer{};

  std::array<TDeviceEntry, kMaxDevices> Devices{};
  std::uint8_t NoOfDevices = 0;
  char DriveLetter = '?';
  std::uint8_t DeviceType = 0;
  std::uint32_t LastWinError = 0;
  bool CloseFH = false;
  bool DoNotUseSPTI = false;
  bool ASPIInitialized = false;
  bool UsingSPTI = false;
  SendASPI32CommandFn SendASPI32Command = nullptr;

  std::uint8_t SelectedDevice = 0;
  std::uint8_t HaID = kNoAddress;
  std::uint8_t Target = kNoAddress;
  std::uint8_t Lun = kNoAddress;
  char Vendor[9] = {};
  char ProductID[17] = {};
  TMedium Medium = mtUNKNOWN;
  TSENSE LastSenseInfo{};
  bool TargetBusy = false;
  std::atomic<std::uint16_t> DeviceError{0};  // ASC * 256 + ASCQ of the last failure
  std::atomic<std::uint8_t> DeviceErrorKey{0};  // the sense key that came with it

  bool BurnProof = false;
  bool TestWrite = false;
  bool FinalizeDisc = false;

  std::uint32_t LastTransferLength = 0;     // bytes the last command actually moved
  platform::TDynamicLibrary ASPILibrary;    // keeps SendASPI32Command loaded

  // Command log, replies kept for the write pipeline, capabilities, speeds
  // and meters, erase. Fields the owner's timers poll while a worker runs
  // are atomics.
  TCommandLog fdbg;                                   // the open command log
  TTrackInformation TrackInformation;                 // last READ TRACK INFORMATION
  TDiscInformation DiscInformation;                   // last READ DISC INFORMATION
  TDiscInformation BGFDI;                             // polled while a format runs
  TConfigHeader ConfigHeader;                         // last GET CONFIGURATION
  TModePage2A ModePage2A;                             // capabilities of the selected drive
  TDC dc{};
  std::array<std::uint8_t, kModePage05Size> ModePage05{};  // last write parameters page
  std::atomic<std::uint32_t> DeviceBufferSize{0};     // drive buffer length, bytes
  std::atomic<std::uint32_t> DeviceBufferPosition{0}; // blank (free) part of it, bytes
  std::uint16_t MaxReadSpeed = 0, CurReadSpeed = 0;   // KB/s, current capabilities page
  std::uint16_t MaxWriteSpeed = 0, CurWriteSpeed = 0;
  std::uint32_t ReadSpeed = 0, WriteSpeed = 0;        // KB/s last requested; 0 = maximum
  double bmWStart = 0, bmWStop = 0, bmWTotal = 0, bmWSize = 0;  // write meter: ms, bytes
  std::uint8_t bmWCounter = 0;
  std::uint16_t bmWriteSpeed = 0;
  std::atomic<std::uint16_t> bmAvgWriteSpeed{0};
  double bmRStart = 0, bmRStop = 0, bmRTotal = 0, bmRSize = 0;  // read meter
  std::uint8_t bmRCounter = 0;
  std::uint16_t bmReadSpeed = 0;
  std::atomic<std::uint16_t> bmAvgReadSpeed{0};
  std::array<std::atomic<std::uint64_t>, kSpeedRingSlots> qTime{}, qBytes{};  // last transfers
  std::atomic<std::int32_t> qIndex{0};
  std::atomic<double> QPFreq{0};                      // milliseconds per counter tick
  TEraseDoneEvent cbEraseDone;
  bool QuickErase = false;
};

// How a command moves data, as the request block's flags say it (completion
// is always signalled through the block's event).
enum class TDataDirection : std::uint8_t {
  None = SRB_EVENT_NOTIFY,
  In = SRB_EVENT_NOTIFY | SRB_DIR_IN,
  Out = SRB_EVENT_NOTIFY | SRB_DIR_OUT,
};

// A fresh request block for one command: flags, CDB length, data buffer and
// length set, everything else zero. ExecSCSICommand fills in the address.
[[nodiscard]] TSRB_ExecSCSICmd MakeSRB(TDataDirection Direction, std::uint8_t CDBLength,
                                       void* Buffer, std::uint32_t Length);

// The emulated recorder's library beside the running program; empty when
// the program's folder is unknown.
[[nodiscard]] std::string EmulatedRecorderLibrary();

// Enumerates the drives and chooses the transport: pass-through on /dev/sr0,
// /dev/sr1, ... (standing for the letters C, D, ...) unless NoInternalASPI,
// otherwise the ASPI library at ASPIDLLPath (default libwnaspi32.so, then the
// emulated recorder beside the program or on its library search path).
// Reserved1 names an enumeration log.
// True when a transport is ready.
bool InitializeASPI(TSCSIDevice& Dev, bool NoInternalASPI, const std::string& ASPIDLLPath,
                    const std::string& Reserved1);
// The ASPI libraries InitializeASPI tries, in order: the caller's path alone,
// or the default library and then the emulated recorder: beside the program,
// else by name on the program's library search path (an installed program's
// run path leads to its library folder).
[[nodiscard]] std::vector<std::string> ASPILibraryCandidates(const std::string& ASPIDLLPath);
bool SelectDevice(TSCSIDevice& Dev, std::uint8_t DeviceIndex);
// Selects every entry whose letter equals DriveLetter exactly (no case folding).
bool SelectDeviceByLetter(TSCSIDevice& Dev, char DriveLetter);
// The entry's description; empty when DeviceIndex is not below NoOfDevices.
std::string GetDeviceName(const TSCSIDevice& Dev, std::uint8_t DeviceIndex);
// Sends one command to the selected device and waits for it; returns the
// final SRB_Status (1 completed, 4 error; 4 at once when nothing is selected).
// Sense data goes to LastSenseInfo, the moved byte count to LastTransferLength.
std::uint8_t ExecSCSICommand(TSCSIDevice& Dev, TSRB_ExecSCSICmd& Srb);
// ExecSCSICommand, sent again while the drive answers that it is getting
// over a medium change, a reset or a spin-up (see Settle.h). For queries and
// settings; WRITE (10) and the commands that record, close or erase go
// through ExecSCSICommand and see each answer as it is. An answer that was
// sent again and then succeeded leaves DeviceError as it was.
std::uint8_t ExecSCSICommandSettled(TSCSIDevice& Dev, TSRB_ExecSCSICmd& Srb);
// Closes the command log and the pass-through handle.
void CloseDevice(TSCSIDevice& Dev);

}  // namespace kilnor
