#include "engine/device/Speeds.h"

#include <chrono>
#include <cmath>
#include <limits>

#include "engine/device/Commands.h"
#include "engine/device/Media.h"

namespace kilnor {

namespace {

constexpr double kCDBaseSpeed = 176.46;
constexpr double kDVDBaseSpeed = 1385.0;
constexpr double kBDBaseSpeed = 4495.5;

using TCounterClock = std::chrono::steady_clock;

// The performance counter: ticks of the steady clock.
[[nodiscard]] std::uint64_t CounterNow() {
  return static_cast<std::uint64_t>(TCounterClock::now().time_since_epoch().count());
}

constexpr double kMillisecondsPerCounterTick =
    1000.0 * TCounterClock::period::num / TCounterClock::period::den;

[[nodiscard]] double TickMs() {
  return std::chrono::duration<double, std::milli>(TCounterClock::now().time_since_epoch()).count();
}

// Rounds to the nearest integer (ties to even) and keeps the result inside
// the target type instead of letting it wrap.
template <class T>
[[nodiscard]] T SaturatedRound(double Value) {
  const double rounded = std::nearbyint(Value);
  if (!(rounded > 0)) return 0;
  if (rounded >= static_cast<double>(std::numeric_limits<T>::max()))
    return std::numeric_limits<T>::max();
  return static_cast<T>(rounded);
}

template <class T>
[[nodiscard]] T SaturatedCeil(double Value) {
  return SaturatedRound<T>(std::ceil(Value));
}

// The fields of one direction's average meter.
struct TAverageMeter {
  double& Start;
  double& Stop;
  double& Total;
  double& Size;
  std::uint8_t& Counter;
  std::atomic<std::uint16_t>& Average;
  std::uint16_t StartingEstimate;
};

[[nodiscard]] TAverageMeter AverageMeter(TSCSIDevice& Dev, TMeterDirection Direction) {
  if (Direction == TMeterDirection::Write)
    return {Dev.bmWStart,   Dev.bmWStop,         Dev.bmWTotal,     Dev.bmWSize,
            Dev.bmWCounter, Dev.bmAvgWriteSpeed, Dev.CurWriteSpeed};
  return {Dev.bmRStart,   Dev.bmRStop,        Dev.bmRTotal,    Dev.bmRSize,
          Dev.bmRCounter, Dev.bmAvgReadSpeed, Dev.CurReadSpeed};
}

}  // namespace

// --- Reported and requested speeds -----------------------------------------

std::uint16_t QueryDeviceMaxReadSpeed(TSCSIDevice& Dev) {
  ReadCapabilities(Dev);
  return Dev.ModePage2A.DeviceMaxReadSpeed;
}

std::uint16_t QueryDeviceMaxWriteSpeed(TSCSIDevice& Dev) {
  ReadCapabilities(Dev);
  return Dev.ModePage2A.DeviceMaxWriteSpeed;
}

std::uint16_t QueryMaxWriteSpeed(TSCSIDevice& Dev) {
  ReadCapabilities(Dev);
  return Dev.MaxWriteSpeed;
}

std::uint16_t QueryReadSpeed(TSCSIDevice& Dev) {
  ReadCapabilities(Dev);
  return Dev.CurReadSpeed;
}

std::uint16_t QueryWriteSpeed(TSCSIDevice& Dev) {
  ReadCapabilities(Dev);
  return Dev.CurWriteSpeed;
}

void SetDeviceSpeed(TSCSIDevice& Dev, std::uint32_t ReadSpeed, std::uint32_t WriteSpeed) {
  Dev.ReadSpeed = ReadSpeed;
  Dev.WriteSpeed = WriteSpeed;
  SetCDSpeed(Dev, ReadSpeed, WriteSpeed);
}

// --- Speed factors -------------------------------------------------------------

double BaseSpeed(TMedium Medium) {
  if (Medium >= mtDVDROM && Medium <= mtDVDPLUSRDL) return kDVDBaseSpeed;
  if (Medium >= mtBDROM && Medium <= mtHDDVDRAM) return kBDBaseSpeed;
  return kCDBaseSpeed;
}

std::uint32_t SpeedOfFactor(double Factor, TMedium Medium) {
  return SaturatedRound<std::uint32_t>(Factor * BaseSpeed(Medium));
}

std::uint32_t FactorOfSpeed(std::uint32_t Speed, TMedium Medium) {
  return SaturatedRound<std::uint32_t>(Speed / BaseSpeed(Medium));
}

// --- Meters --------------------------------------------------------------------

TMeterStart StartMeter(TSCSIDevice& Dev, TMeterDirection Direction) {
  TAverageMeter meter = AverageMeter(Dev, Direction);
  // The first estimate is the speed the drive reported last: asking it now
  // would send a command in the middle of a transfer.
  if (meter.Average == 0) meter.Average = meter.StartingEstimate;
  meter.Start = TickMs();
  return {meter.Start, CounterNow()};
}

void FinishMeter(TSCSIDevice& Dev, TMeterDirection Direction, TMeterStart Started,
                 std::uint32_t Bytes) {
  AddSpeedSample(Dev, Bytes, CounterNow() - Started.Counter);
  TAverageMeter meter = AverageMeter(Dev, Direction);
  meter.Size += Bytes;
  meter.Stop = TickMs();
  meter.Total += meter.Stop - Started.TickMs;
  const double seconds = meter.Total / 1000;
  meter.Average = seconds > 0 ? SaturatedRound<std::uint16_t>((meter.Size / 1024) / seconds) : 0;
  ++meter.Counter;
}

void ResetSpeedMeters(TSCSIDevice& Dev) {
  for (std::size_t slot = 0; slot < kSpeedRingSlots; ++slot) {
    Dev.qTime[slot] = 0;
    Dev.qBytes[slot] = 0;
  }
  Dev.qIndex = 0;
  Dev.QPFreq = kMillisecondsPerCounterTick;
}

void AddSpeedSample(TSCSIDevice& Dev, std::uint64_t Bytes, std::uint64_t Ticks) {
  std::int32_t slot = Dev.qIndex;
  if (slot < 0 || slot >= static_cast<std::int32_t>(kSpeedRingSlots)) slot = 0;
  Dev.qTime[static_cast<std::size_t>(slot)] = Ticks;
  Dev.qBytes[static_cast<std::size_t>(slot)] = Bytes;
  Dev.qIndex = slot + 1;
}

std::uint32_t MeasuredSpeed(const TSCSIDevice& Dev) {
  double ticks = 0;
  double bytes = 0;
  for (std::size_t slot = 0; slot < kSpeedRingSlots; ++slot) {
    ticks += static_cast<double>(Dev.qTime[slot].load());
    bytes += static_cast<double>(Dev.qBytes[slot].load());
  }
  const double milliseconds = ticks * Dev.QPFreq.load();
  if (milliseconds <= 0 || bytes <= 0) return 0;
  return SaturatedCeil<std::uint32_t>(bytes / milliseconds * 1000);
}

std::uint16_t BMWriteSpeed(TSCSIDevice& Dev) {
  const std::uint16_t previous = Dev.bmWriteSpeed;
  Dev.bmWriteSpeed = SaturatedCeil<std::uint16_t>(MeasuredSpeed(Dev) / 1024.0);
  return previous;
}

std::uint16_t BMReadSpeed(TSCSIDevice& Dev) {
  const std::uint16_t previous = Dev.bmReadSpeed;
  Dev.bmReadSpeed = SaturatedCeil<std::uint16_t>(MeasuredSpeed(Dev) / 1024.0);
  return previous;
}

std::uint16_t BMAvgWriteSpeed(const TSCSIDevice& Dev) { return Dev.bmAvgWriteSpeed; }

std::uint16_t BMAvgReadSpeed(const TSCSIDevice& Dev) { return Dev.bmAvgReadSpeed; }

// --- Drive buffer ----------------------------------------------------------------

std::uint32_t DeviceBufferFill(const TSCSIDevice& Dev) {
  const std::uint32_t length = Dev.DeviceBufferSize;
  const std::uint32_t blank = Dev.DeviceBufferPosition;
  return length > blank ? length - blank : 0;
}

}  // namespace kilnor
