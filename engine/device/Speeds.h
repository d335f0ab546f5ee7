#pragma once
// Speeds of the selected drive: what it reports, what it is asked to use,
// how fast data actually moves (an average meter per direction and one ring
// of the last 64 transfers), and how full its buffer is while writing.
// Speeds are kilobytes (1,024 bytes) per second.
//
// Threads: the meters are updated by the thread that issues a transfer and
// read by the owner's thread; the values it reads are atomics.
#include <cstdint>
#include <string>

#include "engine/device/SCSILib.h"

namespace kilnor {

// --- Reported and requested speeds -----------------------------------------

// Each reads the capabilities again first; 0 when they cannot be read.
[[nodiscard]] std::uint16_t QueryDeviceMaxReadSpeed(TSCSIDevice& Dev);
[[nodiscard]] std::uint16_t QueryDeviceMaxWriteSpeed(TSCSIDevice& Dev);
[[nodiscard]] std::uint16_t QueryMaxWriteSpeed(TSCSIDevice& Dev);
[[nodiscard]] std::uint16_t QueryReadSpeed(TSCSIDevice& Dev);
[[nodiscard]] std::uint16_t QueryWriteSpeed(TSCSIDevice& Dev);

// Remembers both speeds (0 = maximum) for the erase and write threads and
// sends them; whether the drive took them shows in QueryWriteSpeed.
void SetDeviceSpeed(TSCSIDevice& Dev, std::uint32_t ReadSpeed, std::uint32_t WriteSpeed);

// --- Speed factors -------------------------------------------------------------

// 1x of a medium: 176.46 (CD), 1385 (DVD), 4495.5 (BD, HD DVD).
[[nodiscard]] double BaseSpeed(TMedium Medium);
// Factor * base, rounded to the nearest integer (ties to even).
[[nodiscard]] std::uint32_t SpeedOfFactor(double Factor, TMedium Medium);
// Speed / base, rounded the same way.
[[nodiscard]] std::uint32_t FactorOfSpeed(std::uint32_t Speed, TMedium Medium);

// --- Meters --------------------------------------------------------------------

enum class TMeterDirection : std::uint8_t { Read, Write };
struct TMeterStart {
  double TickMs = 0;
  std::uint64_t Counter = 0;
};
// Around every READ (10) and WRITE (10): the average meter of the direction
// and the ring count the transfer, failed or not. Neither sends a command.
[[nodiscard]] TMeterStart StartMeter(TSCSIDevice& Dev, TMeterDirection Direction);
void FinishMeter(TSCSIDevice& Dev, TMeterDirection Direction, TMeterStart Started,
                 std::uint32_t Bytes);

// Clears the ring; run when a burn starts and when a verify is created.
void ResetSpeedMeters(TSCSIDevice& Dev);
void AddSpeedSample(TSCSIDevice& Dev, std::uint64_t Bytes, std::uint64_t Ticks);
// Bytes per second over the ring, rounded up; 0 before any transfer or reset.
[[nodiscard]] std::uint32_t MeasuredSpeed(const TSCSIDevice& Dev);

// The value measured at the previous call (0 at the first); each call then
// measures the ring again and keeps the result for the next.
[[nodiscard]] std::uint16_t BMWriteSpeed(TSCSIDevice& Dev);
[[nodiscard]] std::uint16_t BMReadSpeed(TSCSIDevice& Dev);
// Averages since the device was selected.
[[nodiscard]] std::uint16_t BMAvgWriteSpeed(const TSCSIDevice& Dev);
[[nodiscard]] std::uint16_t BMAvgReadSpeed(const TSCSIDevice& Dev);

// --- Drive buffer ----------------------------------------------------------------

// Bytes waiting in the drive's buffer: its length less its blank length as
// last reported, never below 0.
[[nodiscard]] std::uint32_t DeviceBufferFill(const TSCSIDevice& Dev);

}  // namespace kilnor
