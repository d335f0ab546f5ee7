#pragma once
// One emulated MMC recorder: command block in, data and sense out. It owns
// its tray, the medium in it and that medium's backing file, and keeps the
// volatile state a real drive keeps (write parameters, speeds, lock, long
// operations). State that outlives a run is handed to a persistence hook at
// the moments a drive commits it to the disc: synchronise, close, reserve,
// blank, format, load and eject.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "BackingFile.h"
#include "DriveConfig.h"
#include "Faults.h"
#include "Fields.h"
#include "MediumLayout.h"
#include "Sense.h"

namespace velmor::emu {

enum class TDirection : std::uint8_t { None, In, Out };

inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kStatusBusy = 0x08;

struct TCommandResult {
  std::uint8_t Status = kStatusGood;
  TSense Sense;
  std::uint32_t Transferred = 0;  // bytes moved to or from the host buffer
  bool Overrun = false;           // the host buffer could not hold the transfer

  [[nodiscard]] bool Good() const { return Status == kStatusGood && !Overrun; }
};

// Fixed-format sense data as a drive returns it (18 bytes).
[[nodiscard]] std::array<std::uint8_t, 18> FixedSense(const TSense& Sense);

// The medium in the tray: what is recorded now, what was last committed,
// and where its data lives.
struct TLoadedMedium {
  std::string Id;
  TMediumLayout Layout;
  TMediumLayout Committed;
};

class TDrive {
 public:
  enum class TPersist : std::uint8_t { State, Faults };
  // True when what was handed over is kept.
  using TPersistHook = std::function<bool(const TDrive&, TPersist)>;

  // DataDir holds the backing files, named after the medium's id.
  TDrive(TDriveConfig Config, std::string DataDir);

  void SetPersistHook(TPersistHook Hook) { Persist = std::move(Hook); }

  [[nodiscard]] TCommandResult Execute(std::span<const std::uint8_t> Cdb, TDirection Direction,
                                       std::span<std::uint8_t> Data);

  // The physical side: what a person does at the drive, and what a state
  // file restores.
  [[nodiscard]] bool InsertNew(TMediumKind Kind, std::optional<std::uint32_t> Capacity,
                               const std::string& ImagePath, std::string& Error);
  // False, with the reason in Error and no medium in the tray, when the
  // medium's data file is missing or shorter than what it recorded.
  [[nodiscard]] bool Restore(bool TrayOpen, std::optional<TLoadedMedium> Medium, std::string& Error);
  void RemoveMedium();
  [[nodiscard]] bool OpenTray(bool Force);  // false when the medium is locked in
  void CloseTray();
  // Commits what is recorded, as a drive does when the host goes away.
  void Shutdown();

  [[nodiscard]] const TDriveConfig& Config() const { return Settings; }
  TDriveConfig& MutableConfig() { return Settings; }
  // Changes made from outside the command set, kept at once.
  void UpdateConfig(TDriveConfig Config);
  void ArmFault(const TFault& Fault);
  void ClearFaults();
  [[nodiscard]] bool TrayOpen() const { return TrayIsOpen; }
  [[nodiscard]] const std::optional<TLoadedMedium>& Medium() const { return Loaded; }
  [[nodiscard]] TFaultQueue& Faults() { return FaultQueue; }
  [[nodiscard]] const TFaultQueue& Faults() const { return FaultQueue; }
  [[nodiscard]] std::string DataPath(const std::string& MediumId) const;
  [[nodiscard]] bool ExportImage(const std::string& Path, std::string& Error) const;
  [[nodiscard]] bool HasUncommittedWrites() const;
  // True while the drive is in the middle of something a host started:
  // writes not yet committed, a long operation, a medium locked in.
  [[nodiscard]] bool Working() const { return Locked || Operation.has_value() || HasUncommittedWrites(); }

 private:
  struct TRequest {
    std::span<const std::uint8_t> Cdb;
    TDirection Direction;
    std::span<std::uint8_t> Data;
    [[nodiscard]] std::uint8_t Opcode() const { return Cdb[0]; }
  };

  // A blank, format or close that the host started with the immediate bit.
  struct TLongOperation {
    TSense NotReady;
    std::uint32_t Total = 0;
    std::uint32_t Remaining = 0;
    std::optional<std::chrono::steady_clock::time_point> Until;
  };

  // Results.
  [[nodiscard]] static TCommandResult Good() { return {}; }
  [[nodiscard]] static TCommandResult Fail(const TSense& Sense) {
    return {kStatusCheckCondition, Sense, 0, false};
  }
  [[nodiscard]] static TCommandResult Reply(const TRequest& Request, const TReply& Data,
                                            std::size_t AllocationLength);
  // The parameter list of a data-out command, or nothing when the host sent
  // fewer bytes than the command announced.
  [[nodiscard]] static std::optional<std::span<const std::uint8_t>> Parameters(const TRequest& Request,
                                                                                std::size_t Length);

  // Gates before a command runs.
  [[nodiscard]] std::optional<TCommandResult> ApplyFaults(const TRequest& Request);
  [[nodiscard]] std::optional<TCommandResult> GateLongOperation(const TRequest& Request);
  [[nodiscard]] std::optional<TSense> MediumAbsent() const;
  [[nodiscard]] std::optional<TSense> RequireMedium();
  [[nodiscard]] TCommandResult Dispatch(const TRequest& Request);
  void StartLongOperation(const TSense& NotReady, std::chrono::milliseconds RealDuration);
  [[nodiscard]] std::uint16_t LongOperationProgress() const;
  void CountBackgroundFormatPoll();

  // Identification, readiness, tray and mode pages.
  [[nodiscard]] TCommandResult Inquiry(const TRequest& Request);
  [[nodiscard]] TCommandResult TestUnitReady();
  [[nodiscard]] TCommandResult RequestSense(const TRequest& Request);
  [[nodiscard]] TCommandResult StartStopUnit(const TRequest& Request);
  [[nodiscard]] TCommandResult PreventAllow(const TRequest& Request);
  [[nodiscard]] TCommandResult ModeSense(const TRequest& Request);
  [[nodiscard]] TCommandResult ModeSelect(const TRequest& Request);
  [[nodiscard]] TReply WriteParametersPage(std::uint8_t Control) const;
  [[nodiscard]] TReply CapabilitiesPage(std::uint8_t Control) const;

  // Features and profiles.
  [[nodiscard]] TCommandResult GetConfiguration(const TRequest& Request);
  [[nodiscard]] std::uint16_t CurrentProfile() const;

  // What is on the medium.
  [[nodiscard]] TCommandResult ReadDiscInformation(const TRequest& Request);
  [[nodiscard]] TCommandResult ReadTrackInformation(const TRequest& Request);
  [[nodiscard]] TCommandResult ReadTocPmaAtip(const TRequest& Request);
  [[nodiscard]] TCommandResult ReadCapacity(const TRequest& Request);
  [[nodiscard]] TCommandResult ReadFormatCapacities(const TRequest& Request);

  // Speeds and buffer.
  [[nodiscard]] TCommandResult ReadBufferCapacity(const TRequest& Request);
  [[nodiscard]] TCommandResult GetPerformance(const TRequest& Request);
  [[nodiscard]] TCommandResult SetCdSpeed(const TRequest& Request);
  [[nodiscard]] TCommandResult SetStreaming(const TRequest& Request);
  void ChooseSpeeds(std::uint32_t ReadKBps, std::uint32_t WriteKBps);
  [[nodiscard]] TFamily SpeedFamily() const;
  void PaceTransfer(std::size_t Bytes, std::uint32_t KBps) const;

  // Recording.
  [[nodiscard]] TCommandResult Read(const TRequest& Request, std::uint32_t Lba, std::uint32_t Blocks);
  [[nodiscard]] TCommandResult Write(const TRequest& Request, std::uint32_t Lba, std::uint32_t Blocks);
  [[nodiscard]] TCommandResult ReserveTrack(const TRequest& Request);
  [[nodiscard]] TCommandResult SynchronizeCache();
  [[nodiscard]] TCommandResult CloseTrackSession(const TRequest& Request);
  [[nodiscard]] TCommandResult Blank(const TRequest& Request);
  [[nodiscard]] TCommandResult FormatUnit(const TRequest& Request);
  [[nodiscard]] TCommandResult SendDvdStructure(const TRequest& Request);
  [[nodiscard]] std::optional<TSense> CheckWriteParameters() const;
  [[nodiscard]] bool TestWriteActive() const;
  [[nodiscard]] TMediumLayout& RecordingLayout();
  [[nodiscard]] std::optional<TSense> FormatOverwritable(std::uint8_t FormatType, std::uint8_t Subtype,
                                                         std::uint32_t Blocks, bool& Background);
  // False when the committed state could not be kept.
  bool Commit();
  void ForgetMediumState();  // what the drive knew about the medium it held
  void PowerCycle();
  void EjectTray();

  [[nodiscard]] const TMediumTraits* MediumInfo() const {
    return Loaded ? &Loaded->Layout.Info() : nullptr;
  }

  TDriveConfig Settings;
  std::string DataDir;
  TPersistHook Persist;
  TFaultQueue FaultQueue;

  bool TrayIsOpen = false;
  std::optional<TLoadedMedium> Loaded;
  TBackingFile Backing;

  // Volatile state, lost at power off.
  std::array<std::uint8_t, 52> PageFive{};
  bool Locked = false;
  std::uint32_t ReadSpeed = 0;
  std::uint32_t WriteSpeed = 0;
  std::optional<TLongOperation> Operation;
  std::uint32_t BackgroundFormatPolls = 0;
  bool BackgroundFormatRunning = false;
  std::uint32_t LoadingPolls = 0;
  std::optional<TMediumLayout> Simulation;  // the test write in progress
  std::uint64_t BytesSinceSync = 0;
  bool PowerOnPending = false;
};

}  // namespace velmor::emu
