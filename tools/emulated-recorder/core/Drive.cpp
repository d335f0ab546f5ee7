#include "Drive.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

namespace velmor::emu {

namespace {

using namespace std::chrono_literals;

// Operation codes this drive answers.
namespace op {
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRezeroUnit = 0x01;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kFormatUnit = 0x04;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kPreventAllow = 0x1E;
constexpr std::uint8_t kReadFormatCapacities = 0x23;
constexpr std::uint8_t kReadCapacity = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kSynchronizeCache = 0x35;
constexpr std::uint8_t kReadTocPmaAtip = 0x43;
constexpr std::uint8_t kGetConfiguration = 0x46;
constexpr std::uint8_t kReadDiscInformation = 0x51;
constexpr std::uint8_t kReadTrackInformation = 0x52;
constexpr std::uint8_t kReserveTrack = 0x53;
constexpr std::uint8_t kModeSelect10 = 0x55;
constexpr std::uint8_t kModeSense10 = 0x5A;
constexpr std::uint8_t kCloseTrackSession = 0x5B;
constexpr std::uint8_t kReadBufferCapacity = 0x5C;
constexpr std::uint8_t kBlank = 0xA1;
constexpr std::uint8_t kRead12 = 0xA8;
constexpr std::uint8_t kWrite12 = 0xAA;
constexpr std::uint8_t kGetPerformance = 0xAC;
constexpr std::uint8_t kSetStreaming = 0xB6;
constexpr std::uint8_t kSetCdSpeed = 0xBB;
constexpr std::uint8_t kSendDvdStructure = 0xBF;
}  // namespace op

// The CDB length the operation code's group demands.
[[nodiscard]] std::size_t CdbLength(std::uint8_t Opcode) {
  switch (Opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 6;
  }
}

// Commands a drive answers while a blank, format or close is running.
[[nodiscard]] bool AllowedDuringOperation(std::uint8_t Opcode) {
  return Opcode == op::kInquiry || Opcode == op::kRequestSense || Opcode == op::kGetConfiguration ||
         Opcode == op::kModeSense10;
}

// Commands that carry a write: the fault queue needs their address.
[[nodiscard]] bool IsWriteCommand(std::uint8_t Opcode) {
  return Opcode == op::kWrite10 || Opcode == op::kWrite12;
}

[[nodiscard]] std::string NewMediumId() {
  std::random_device entropy;
  char id[20];
  std::snprintf(id, sizeof id, "%08x%08x", entropy(), entropy());
  return id;
}

}  // namespace

std::array<std::uint8_t, 18> FixedSense(const TSense& Sense) {
  std::array<std::uint8_t, 18> bytes{};
  bytes[0] = Sense.Information ? 0xF0 : 0x70;
  bytes[2] = Sense.Key & 0x0F;
  if (Sense.Information) {
    bytes[3] = static_cast<std::uint8_t>(*Sense.Information >> 24);
    bytes[4] = static_cast<std::uint8_t>(*Sense.Information >> 16);
    bytes[5] = static_cast<std::uint8_t>(*Sense.Information >> 8);
    bytes[6] = static_cast<std::uint8_t>(*Sense.Information);
  }
  bytes[7] = 10;
  bytes[12] = Sense.Asc;
  bytes[13] = Sense.Ascq;
  if (Sense.Progress) {
    bytes[15] = 0x80;
    bytes[16] = static_cast<std::uint8_t>(*Sense.Progress >> 8);
    bytes[17] = static_cast<std::uint8_t>(*Sense.Progress);
  }
  return bytes;
}

TDrive::TDrive(TDriveConfig Config, std::string DataDirectory)
    : Settings(std::move(Config)), DataDir(std::move(DataDirectory)) {
  PowerCycle();
  PowerOnPending = false;
}

std::string TDrive::DataPath(const std::string& MediumId) const {
  return DataDir + "/medium-" + MediumId + ".data";
}

TCommandResult TDrive::Reply(const TRequest& Request, const TReply& Data, std::size_t AllocationLength) {
  const std::size_t length = std::min({AllocationLength, Data.Size(), Request.Data.size()});
  std::copy_n(Data.View().begin(), length, Request.Data.begin());
  TCommandResult result;
  result.Transferred = static_cast<std::uint32_t>(length);
  return result;
}

std::optional<std::span<const std::uint8_t>> TDrive::Parameters(const TRequest& Request, std::size_t Length) {
  if (Request.Direction != TDirection::Out || Request.Data.size() < Length) return std::nullopt;
  return std::span<const std::uint8_t>(Request.Data.data(), Length);
}

TCommandResult TDrive::Execute(std::span<const std::uint8_t> Cdb, TDirection Direction,
                               std::span<std::uint8_t> Data) {
  if (Cdb.empty()) return Fail(sense::InvalidOpcode());
  if (Cdb.size() < CdbLength(Cdb[0])) return Fail(sense::InvalidFieldInCdb());
  const TRequest request{Cdb, Direction, Data};

  if (PowerOnPending && request.Opcode() != op::kInquiry && request.Opcode() != op::kRequestSense) {
    PowerOnPending = false;
    return Fail(sense::PowerOnReset());
  }
  if (auto faulted = ApplyFaults(request)) return *faulted;
  if (auto gated = GateLongOperation(request)) return *gated;
  CountBackgroundFormatPoll();
  return Dispatch(request);
}

TCommandResult TDrive::Dispatch(const TRequest& Request) {
  const auto cdb = Request.Cdb;
  switch (Request.Opcode()) {
    case op::kTestUnitReady: return TestUnitReady();
    case op::kRezeroUnit: return Good();
    case op::kRequestSense: return RequestSense(Request);
    case op::kFormatUnit: return FormatUnit(Request);
    case op::kInquiry: return Inquiry(Request);
    case op::kStartStopUnit: return StartStopUnit(Request);
    case op::kPreventAllow: return PreventAllow(Request);
    case op::kReadFormatCapacities: return ReadFormatCapacities(Request);
    case op::kReadCapacity: return ReadCapacity(Request);
    case op::kRead10: return Read(Request, Be32(cdb, 2), Be16(cdb, 7));
    case op::kRead12: return Read(Request, Be32(cdb, 2), Be32(cdb, 6));
    case op::kWrite10: return Write(Request, Be32(cdb, 2), Be16(cdb, 7));
    case op::kWrite12: return Write(Request, Be32(cdb, 2), Be32(cdb, 6));
    case op::kSynchronizeCache: return SynchronizeCache();
    case op::kReadTocPmaAtip: return ReadTocPmaAtip(Request);
    case op::kGetConfiguration: return GetConfiguration(Request);
    case op::kReadDiscInformation: return ReadDiscInformation(Request);
    case op::kReadTrackInformation: return ReadTrackInformation(Request);
    case op::kReserveTrack: return ReserveTrack(Request);
    case op::kModeSelect10: return ModeSelect(Request);
    case op::kModeSense10: return ModeSense(Request);
    case op::kCloseTrackSession: return CloseTrackSession(Request);
    case op::kReadBufferCapacity: return ReadBufferCapacity(Request);
    case op::kBlank: return Blank(Request);
    case op::kGetPerformance: return GetPerformance(Request);
    case op::kSetStreaming: return SetStreaming(Request);
    case op::kSetCdSpeed: return SetCdSpeed(Request);
    case op::kSendDvdStructure: return SendDvdStructure(Request);
    default: return Fail(sense::InvalidOpcode());
  }
}

std::optional<TCommandResult> TDrive::ApplyFaults(const TRequest& Request) {
  using TKind = TFaultAction::TKind;
  const auto cdb = Request.Cdb;
  const bool isWrite = IsWriteCommand(Request.Opcode());
  const std::uint32_t lba = isWrite ? Be32(cdb, 2) : 0;
  const std::uint32_t blocks =
      !isWrite ? 0 : Request.Opcode() == op::kWrite10 ? Be16(cdb, 7) : Be32(cdb, 6);
  bool changed = false;
  const TFaultAction action = FaultQueue.OnCommand(Request.Opcode(), isWrite, lba, blocks, changed);
  if (changed && Persist) Persist(*this, TPersist::Faults);
  switch (action.Kind) {
    case TKind::None: return std::nullopt;
    case TKind::CheckCondition: return Fail(action.Sense);
    case TKind::Busy: return TCommandResult{kStatusBusy, {}, 0, false};
    case TKind::Eject:
      Locked = false;
      EjectTray();
      return Fail(sense::NoMediumTrayOpen());
    case TKind::PowerLoss:
      PowerCycle();
      PowerOnPending = false;
      return Fail(sense::PowerOnReset());
  }
  return std::nullopt;
}

std::optional<TCommandResult> TDrive::GateLongOperation(const TRequest& Request) {
  if (!Operation) return std::nullopt;
  const bool done = Operation->Until ? std::chrono::steady_clock::now() >= *Operation->Until
                                     : Operation->Remaining == 0;
  if (done) {
    Operation.reset();
    return std::nullopt;
  }
  if (AllowedDuringOperation(Request.Opcode())) return std::nullopt;
  TSense notReady = Operation->NotReady;
  notReady.Progress = LongOperationProgress();
  if (!Operation->Until) --Operation->Remaining;
  return Fail(notReady);
}

std::uint16_t TDrive::LongOperationProgress() const {
  if (!Operation || Operation->Total == 0) return 0;
  if (Operation->Until) {
    const auto left = *Operation->Until - std::chrono::steady_clock::now();
    const double total = static_cast<double>(Operation->Total);
    const double spent = total - std::chrono::duration<double, std::milli>(left).count();
    return static_cast<std::uint16_t>(std::clamp(spent / total, 0.0, 1.0) * 65535);
  }
  return static_cast<std::uint16_t>(
      std::uint64_t{Operation->Total - Operation->Remaining} * 65535 / Operation->Total);
}

void TDrive::StartLongOperation(const TSense& NotReady, std::chrono::milliseconds RealDuration) {
  TLongOperation operation{NotReady, Settings.BusyPolls, Settings.BusyPolls, std::nullopt};
  if (Settings.Realtime) {
    operation.Total = static_cast<std::uint32_t>(std::max<std::int64_t>(RealDuration.count(), 1));
    operation.Until = std::chrono::steady_clock::now() + RealDuration;
  }
  if (operation.Total > 0) Operation = operation;
}

void TDrive::CountBackgroundFormatPoll() {
  if (!BackgroundFormatRunning) return;
  if (BackgroundFormatPolls == 0)
    BackgroundFormatRunning = false;
  else
    --BackgroundFormatPolls;
}

std::optional<TSense> TDrive::MediumAbsent() const {
  if (TrayIsOpen) return sense::NoMediumTrayOpen();
  if (!Loaded) return sense::NoMediumTrayClosed();
  return std::nullopt;
}

std::optional<TSense> TDrive::RequireMedium() {
  if (auto absent = MediumAbsent()) return absent;
  if (LoadingPolls > 0) {
    --LoadingPolls;
    return sense::BecomingReady();
  }
  return std::nullopt;
}

void TDrive::PowerCycle() {
  if (Loaded) Loaded->Layout = Loaded->Committed;
  // Track at once, underrun-free, Mode 1 blocks, no next session, pause 150.
  PageFive = {0x05, 0x32, 0x41, 0x04, 0x08};
  PageFive[15] = 150;
  Locked = false;
  const TSpeeds& speeds = Settings.SpeedsFor(SpeedFamily());
  ReadSpeed = speeds.Read.front();
  WriteSpeed = speeds.Write.front();
  Operation.reset();
  BackgroundFormatRunning = false;
  BackgroundFormatPolls = 0;
  LoadingPolls = 0;
  Simulation.reset();
  BytesSinceSync = 0;
  PowerOnPending = true;
}

void TDrive::ForgetMediumState() {
  Simulation.reset();
  Operation.reset();
  BackgroundFormatRunning = false;
  BackgroundFormatPolls = 0;
  LoadingPolls = 0;
  BytesSinceSync = 0;
}

bool TDrive::Commit() {
  if (Loaded) Loaded->Committed = Loaded->Layout;
  BytesSinceSync = 0;
  return !Persist || Persist(*this, TPersist::State);
}

bool TDrive::HasUncommittedWrites() const { return BytesSinceSync != 0; }

void TDrive::UpdateConfig(TDriveConfig Config) {
  Settings = std::move(Config);
  ChooseSpeeds(0xFFFF, 0xFFFF);
  if (Persist) Persist(*this, TPersist::State);
}

void TDrive::ArmFault(const TFault& Fault) {
  FaultQueue.Arm(Fault);
  if (Persist) Persist(*this, TPersist::Faults);
}

void TDrive::ClearFaults() {
  FaultQueue.Clear();
  if (Persist) Persist(*this, TPersist::Faults);
}

void TDrive::Shutdown() {
  if (!Loaded || !HasUncommittedWrites()) return;
  if (!Backing.Flush() && Backing.IsOpen()) std::fprintf(stderr, "velmor-emulator: cannot flush medium data\n");
  Commit();
}

// The new medium is made whole beside the one in the tray, which is given
// up only once the new one is in: a failed insert leaves the drive as it was.
bool TDrive::InsertNew(TMediumKind Kind, std::optional<std::uint32_t> Capacity, const std::string& ImagePath,
                       std::string& Error) {
  TLoadedMedium medium{NewMediumId(), TMediumLayout(Kind, Capacity.value_or(Traits(Kind).Capacity)), {}};
  if (medium.Layout.Capacity() == 0) {
    Error = "a medium needs at least one block";
    return false;
  }
  TBackingFile backing;
  if (!backing.Open(DataPath(medium.Id), medium.Layout.Capacity())) {
    Error = "cannot create the medium's data file " + DataPath(medium.Id);
    return false;
  }
  if (!ImagePath.empty()) {
    const std::optional<std::uint32_t> blocks = backing.ImportFrom(ImagePath, Error);
    if (!blocks) {
      backing.Close();
      std::remove(DataPath(medium.Id).c_str());
      return false;
    }
    medium.Layout.Preload(*blocks);
  } else if (Traits(Kind).Recording == TRecording::ReadOnly) {
    medium.Layout.Preload(medium.Layout.Capacity());
  } else if (Kind == TMediumKind::DvdRwRestricted) {
    medium.Layout.FormatRestrictedOverwrite(0);
  } else if (Kind != TMediumKind::DvdPlusRw && Traits(Kind).Recording == TRecording::Overwrite) {
    // DVD-RAM, BD-RE and HD DVD-RAM are sold formatted; a DVD+RW is formatted
    // by the drive at its first write.
    medium.Layout.Format(medium.Layout.Capacity());
  }
  medium.Committed = medium.Layout;
  const std::optional<std::string> replaced = Loaded ? std::optional(Loaded->Id) : std::nullopt;
  ForgetMediumState();
  Backing = std::move(backing);
  Loaded = std::move(medium);
  TrayIsOpen = false;
  ChooseSpeeds(0xFFFF, 0xFFFF);
  // Removed only once the saved state names the new file, so neither a
  // crash nor a failed save leaves a state that names a missing one.
  if (Commit() && replaced) std::remove(DataPath(*replaced).c_str());
  return true;
}

bool TDrive::Restore(bool TrayOpenNow, std::optional<TLoadedMedium> Medium, std::string& Error) {
  if (Medium && Loaded && Medium->Id == Loaded->Id && HasUncommittedWrites()) {
    // The same disc while this drive is recording on it: what it recorded
    // since its last commit stays.
    if (TrayOpenNow && !TrayIsOpen) Simulation.reset();
    TrayIsOpen = TrayOpenNow;
    return true;
  }
  Backing.Close();
  Loaded.reset();
  ForgetMediumState();
  TrayIsOpen = TrayOpenNow;
  if (Medium && !Backing.OpenRecorded(DataPath(Medium->Id), Medium->Layout.Capacity(),
                                      Medium->Layout.RecordedEnd(), Error))
    return false;
  Loaded = std::move(Medium);
  ChooseSpeeds(0xFFFF, 0xFFFF);
  return true;
}

void TDrive::RemoveMedium() {
  if (Loaded) {
    Backing.Close();
    std::remove(DataPath(Loaded->Id).c_str());
  }
  Loaded.reset();
  ForgetMediumState();
  if (Persist) Persist(*this, TPersist::State);
}

bool TDrive::OpenTray(bool Force) {
  if (Locked && !Force) return false;
  EjectTray();
  return true;
}

void TDrive::EjectTray() {
  if (Loaded) Loaded->Committed = Loaded->Layout;
  TrayIsOpen = true;
  Simulation.reset();
  Operation.reset();
  if (Persist) Persist(*this, TPersist::State);
}

void TDrive::CloseTray() {
  if (!TrayIsOpen) return;
  TrayIsOpen = false;
  if (Loaded) LoadingPolls = Settings.LoadingPolls;
  ChooseSpeeds(0xFFFF, 0xFFFF);
  if (Persist) Persist(*this, TPersist::State);
}

bool TDrive::ExportImage(const std::string& Path, std::string& Error) const {
  if (!Loaded) {
    Error = "the drive holds no medium";
    return false;
  }
  if (!Backing.ExportTo(Path, Loaded->Layout.RecordedEnd())) {
    Error = "cannot write the image " + Path;
    return false;
  }
  return true;
}

void TDrive::PaceTransfer(std::size_t Bytes, std::uint32_t KBps) const {
  if (!Settings.Realtime || KBps == 0) return;
  std::this_thread::sleep_for(std::chrono::microseconds(Bytes * 1'000'000 / (std::uint64_t{KBps} * 1024)));
}

}  // namespace velmor::emu
