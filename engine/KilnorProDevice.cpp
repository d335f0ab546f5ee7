// The component's drive, medium, speed and erase operations: each forwards
// to the device layer with the component's device record.
#include "engine/KilnorPro.h"
#include "engine/device/Commands.h"
#include "engine/device/Erase.h"
#include "engine/device/Media.h"
#include "engine/device/SCSILib.h"
#include "engine/device/Speeds.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {

bool TKilnorPro::DeviceCan(std::uint8_t DeviceCapabilityID) {
  return kilnor::DeviceCan(Device, DeviceCapabilityID);
}

bool TKilnorPro::LockMedium() { return kilnor::LockMedium(Device); }

bool TKilnorPro::UnlockMedium() { return kilnor::UnlockMedium(Device); }

bool TKilnorPro::UnlockDrive() { return kilnor::UnlockDrive(Device); }

bool TKilnorPro::FlushCache() { return SynchronizeCache(Device, true); }

bool TKilnorPro::LoadMedium(bool Immediate) { return kilnor::LoadMedium(Device, Immediate); }

bool TKilnorPro::EjectMedium(bool Immediate) { return kilnor::EjectMedium(Device, Immediate); }

bool TKilnorPro::Erasable() { return kilnor::Erasable(Device); }

bool TKilnorPro::Writable() { return kilnor::Writable(Device); }

bool TKilnorPro::TestUnitReady() { return kilnor::TestUnitReady(Device); }

bool TKilnorPro::DeviceIsBurner() const { return kilnor::DeviceIsBurner(Device); }

std::int32_t TKilnorPro::SessionsOnDisc() { return kilnor::SessionsOnDisc(Device); }

TMedium TKilnorPro::DiscIs() { return kilnor::DiscIs(Device); }

std::uint32_t TKilnorPro::FreeBlocksOnDisc() { return QueryFreeBlocks(Device); }

std::uint32_t TKilnorPro::TotalBlocksOnDisc() { return QueryTotalBlocks(Device); }

bool TKilnorPro::EraseDisc(bool Quick) {
  ClearError(CDFiles);
  BeginErase(CDFiles, Device, Quick, FOnEraseDone);
  // The worker works on this component's records; the registry joins it
  // before they go away.
  Workers.Start([this](std::stop_token) { TEraseThread(CDFiles, Device).Execute(); });
  return true;
}

std::uint16_t TKilnorPro::DeviceMaxReadSpeed() { return QueryDeviceMaxReadSpeed(Device); }

std::uint16_t TKilnorPro::DeviceMaxWriteSpeed() { return QueryDeviceMaxWriteSpeed(Device); }

std::uint16_t TKilnorPro::MaxWriteSpeed() { return QueryMaxWriteSpeed(Device); }

std::uint16_t TKilnorPro::ReadSpeed() { return QueryReadSpeed(Device); }

std::uint16_t TKilnorPro::WriteSpeed() { return QueryWriteSpeed(Device); }

void TKilnorPro::SetDeviceSpeed(std::uint32_t ReadSpeed, std::uint32_t WriteSpeed) {
  kilnor::SetDeviceSpeed(Device, ReadSpeed, WriteSpeed);
}

std::uint16_t TKilnorPro::BMWriteSpeed() { return kilnor::BMWriteSpeed(Device); }

std::uint16_t TKilnorPro::BMReadSpeed() { return kilnor::BMReadSpeed(Device); }

std::uint16_t TKilnorPro::BMAvgWriteSpeed() const { return kilnor::BMAvgWriteSpeed(Device); }

std::uint16_t TKilnorPro::BMAvgReadSpeed() const { return kilnor::BMAvgReadSpeed(Device); }

std::uint32_t TKilnorPro::DeviceBufferPosition() const { return DeviceBufferFill(Device); }

std::string TKilnorPro::EmulatedRecorderLibrary() { return kilnor::EmulatedRecorderLibrary(); }

bool TKilnorPro::CommandLogOpen() const { return Device.fdbg.IsOpen(); }

std::string TKilnorPro::TakeCommandLogProblem() { return Device.fdbg.TakeWriteError(); }

TDiscState TKilnorPro::DiscState() { return QueryDiscState(Device); }

std::vector<TSessionExtent> TKilnorPro::RecordedSessions() { return kilnor::RecordedSessions(Device); }

bool TKilnorPro::DiscHoldsData() {
  return IsOverwritable(DiscIs()) ? ReadVolumeSpaceSize(Device) != 0 : SessionsOnDisc() > 0;
}

std::string_view TKilnorPro::MediumName(TMedium Medium) { return kilnor::MediumName(Medium); }

std::string_view TKilnorPro::DiscStateName(TDiscState State) { return kilnor::DiscStateName(State); }

double TKilnorPro::BaseSpeed(TMedium Medium) { return kilnor::BaseSpeed(Medium); }

std::uint32_t TKilnorPro::SpeedOfFactor(double Factor, TMedium Medium) { return kilnor::SpeedOfFactor(Factor, Medium); }

std::uint32_t TKilnorPro::FactorOfSpeed(std::uint32_t Speed, TMedium Medium) {
  return kilnor::FactorOfSpeed(Speed, Medium);
}

}  // namespace kilnor
