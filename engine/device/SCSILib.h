#pragma once
// The device record: the drive table, the selected drive, its transport and
// the state the command set, detection, meters and erase keep about it.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "engine/device/DeviceTypes.h"
#include "engine/device/SCSIDefs.h"
#include "engine/device/WNASPI32.h"

namespace kilnor {

inline constexpr std::size_t kMaxDevices = 26;
inline constexpr std::uint8_t kNoAddress = 0xFF;

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

  bool BurnProof = false;
  bool TestWrite = false;
  bool FinalizeDisc = false;
};

}  // namespace kilnor
