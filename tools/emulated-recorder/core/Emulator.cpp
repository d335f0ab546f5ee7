#include "Emulator.h"

#include <cstdio>

namespace velmor::emu {

namespace {

constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kRequestSense = 0x03;

// Identification answers whoever asks, so a drive in use elsewhere is still
// listed.
[[nodiscard]] bool NeedsClaim(std::span<const std::uint8_t> Cdb) {
  return !Cdb.empty() && Cdb[0] != kInquiry && Cdb[0] != kRequestSense;
}

[[nodiscard]] TSense InUseByAnotherProcess() { return sense::OperationInProgress(); }
[[nodiscard]] TSense InternalTargetFailure() { return sense::Make(0x4, 0x44, 0x00); }

}  // namespace

TEmulator::TEmulator(std::string Directory, TRole Role) : Store(std::move(Directory)), Role(Role) { Open(); }

TEmulator::~TEmulator() {
  std::lock_guard guard(Lock);
  TDirectoryLock directory(Store.Directory());
  if (!directory.Held()) {
    std::fprintf(stderr, "velmor-emulator: %s; what was recorded since the last commit is not saved\n",
                 InUseText().c_str());
    return;
  }
  for (auto& slot : Drives) slot.Drive->Shutdown();
}

void TEmulator::Open() {
  if (!Store.Prepare(OpenError)) return;
  TDirectoryLock directory(Store.Directory());
  if (!directory.Held()) {
    OpenError = InUseText();
    return;
  }
  if (Store.DriveNumbers().empty() &&
      !Store.CreateDrive(0, TDriveConfig::Default(), TMediumKind::DvdPlusRw, OpenError))
    return;
  for (int number : Store.DriveNumbers()) static_cast<void>(OpenDrive(number));
}

bool TEmulator::OpenDrive(int Number) {
  TSlot slot;
  slot.Number = Number;
  slot.StateStamp = TStateStore::Stamp(Store.DrivePath(Number));
  slot.FaultsStamp = TStateStore::Stamp(Store.FaultsPath(Number));
  std::string error;
  slot.Drive = Store.LoadDrive(Number, error);
  if (!slot.Drive) {
    std::fprintf(stderr, "velmor-emulator: drive %d left out: %s\n", Number, error.c_str());
    return false;
  }
  slot.Claim = std::make_unique<TDriveClaim>(Store.ClaimPath(Number));
  Drives.push_back(std::move(slot));
  Attach(Drives.size() - 1);
  return true;
}

void TEmulator::Attach(std::size_t Index) {
  Drives[Index].Drive->SetPersistHook([this, Index](const TDrive& Drive, TDrive::TPersist What) {
    TSlot& Slot = Drives[Index];
    const bool saved = What == TDrive::TPersist::State ? Store.SaveState(Slot.Number, Drive)
                                                       : Store.SaveFaults(Slot.Number, Drive);
    if (!saved && Problem.empty())
      Problem = "cannot save the state of drive " + std::to_string(Slot.Number) + " in " + Store.Directory();
    Slot.StateStamp = TStateStore::Stamp(Store.DrivePath(Slot.Number));
    Slot.FaultsStamp = TStateStore::Stamp(Store.FaultsPath(Slot.Number));
    return saved;
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
  TDirectoryLock directory(Store.Directory());
  if (!directory.Held()) return {kStatusBusy, {}, 0, false};
  TSlot& slot = Drives[Index];
  if (Role == TRole::Host && NeedsClaim(Cdb)) {
    if (!slot.Claim->Take()) return {kStatusCheckCondition, InUseByAnotherProcess(), 0, false};
    slot.LastCommand = std::chrono::steady_clock::now();
  }
  Refresh(slot);
  const TCommandResult result = slot.Drive->Execute(Cdb, Direction, Data);
  // What the drive committed but could not keep is lost at the next start:
  // the command that committed it has failed.
  if (!TakeProblem().empty() && result.Good()) return {kStatusCheckCondition, InternalTargetFailure(), 0, false};
  return result;
}

bool TEmulator::AddDrive(TDriveConfig Config, int& Number, std::string& Error) {
  std::lock_guard guard(Lock);
  TDirectoryLock directory(Store.Directory());
  if (!directory.Held()) {
    Error = InUseText();
    return false;
  }
  const auto numbers = Store.DriveNumbers();
  Number = numbers.empty() ? 0 : numbers.back() + 1;
  Config.Serial = "VR" + std::to_string(1000000000 + Number);
  if (!Store.CreateDrive(Number, Config, std::nullopt, Error)) return false;
  if (OpenDrive(Number)) return true;
  Error = "drive " + std::to_string(Number) + " was written but cannot be read back";
  return false;
}

bool TEmulator::InUseElsewhere(std::size_t Index) {
  std::lock_guard guard(Lock);
  const TSlot& slot = Drives[Index];
  return !slot.Claim->Held() && TDriveClaim::HeldElsewhere(Store.ClaimPath(slot.Number));
}

void TEmulator::ReleaseIdleClaims(std::chrono::steady_clock::duration Idle) {
  std::lock_guard guard(Lock);
  const auto now = std::chrono::steady_clock::now();
  for (TSlot& slot : Drives)
    if (slot.Claim->Held() && now - slot.LastCommand >= Idle && !slot.Drive->Working()) slot.Claim->Release();
}

std::string TEmulator::TakeProblem() {
  std::string problem;
  problem.swap(Problem);
  return problem;
}

std::string TEmulator::InUseText() const {
  return "the state directory " + Store.Directory() + " is locked by another process";
}

}  // namespace velmor::emu
