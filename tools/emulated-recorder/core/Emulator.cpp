#include "Emulator.h"

#include <cstdio>

namespace velmor::emu {

TEmulator::TEmulator(std::string Directory) : Store(std::move(Directory)) { Open(); }

TEmulator::~TEmulator() {
  std::lock_guard guard(Lock);
  for (auto& slot : Drives) slot.Drive->Shutdown();
}

void TEmulator::Open() {
  if (!Store.Prepare(OpenError)) return;
  if (Store.DriveNumbers().empty() &&
      !Store.CreateDrive(0, TDriveConfig::Default(), TMediumKind::DvdPlusRw, OpenError))
    return;
  for (int number : Store.DriveNumbers()) {
    TSlot slot;
    slot.Number = number;
    slot.StateStamp = TStateStore::Stamp(Store.DrivePath(number));
    slot.FaultsStamp = TStateStore::Stamp(Store.FaultsPath(number));
    std::string error;
    slot.Drive = Store.LoadDrive(number, error);
    if (!slot.Drive) {
      std::fprintf(stderr, "velmor-emulator: drive %d left out: %s\n", number, error.c_str());
      continue;
    }
    Drives.push_back(std::move(slot));
  }
  for (std::size_t i = 0; i < Drives.size(); ++i) Attach(i);
}

void TEmulator::Attach(std::size_t Index) {
  Drives[Index].Drive->SetPersistHook([this, Index](const TDrive& Drive, TDrive::TPersist What) {
    TSlot& Slot = Drives[Index];
    const bool saved = What == TDrive::TPersist::State ? Store.SaveState(Slot.Number, Drive)
                                                       : Store.SaveFaults(Slot.Number, Drive);
    if (!saved) std::fprintf(stderr, "velmor-emulator: cannot save the state of drive %d\n", Slot.Number);
    Slot.StateStamp = TStateStore::Stamp(Store.DrivePath(Slot.Number));
    Slot.FaultsStamp = TStateStore::Stamp(Store.FaultsPath(Slot.Number));
  });
}

void TEmulator::Refresh(TSlot& Slot) {
  const TFileStamp state = TStateStore::Stamp(Store.DrivePath(Slot.Number));
  if (state != Slot.StateStamp) {
    Slot.StateStamp = state;
    std::string error;
    if (!Store.ReloadDrive(Slot.Number, *Slot.Drive, error))
      std::fprintf(stderr, "velmor-emulator: drive %d: %s\n", Slot.Number, error.c_str());
  }
  const TFileStamp faults = TStateStore::Stamp(Store.FaultsPath(Slot.Number));
  if (faults != Slot.FaultsStamp) {
    Slot.FaultsStamp = faults;
    if (!Store.LoadFaults(Slot.Number, *Slot.Drive))
      std::fprintf(stderr, "velmor-emulator: drive %d: damaged fault list ignored\n", Slot.Number);
  }
}

TCommandResult TEmulator::Execute(std::size_t Index, std::span<const std::uint8_t> Cdb, TDirection Direction,
                                  std::span<std::uint8_t> Data) {
  std::lock_guard guard(Lock);
  TSlot& slot = Drives[Index];
  Refresh(slot);
  return slot.Drive->Execute(Cdb, Direction, Data);
}

}  // namespace velmor::emu
