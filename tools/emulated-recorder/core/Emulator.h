#pragma once
// All drives of one state directory. Commands from any thread are run one at
// a time, and every step that reads or changes the directory's files holds
// its lock, so processes sharing the directory take turns. A state file
// replaced by another process (the command-line helper inserting a disc or
// arming a fault) is read again before the next command, as a drive notices
// a medium change. An emulator that stands for a host (the recorder library)
// claims each drive it sends commands to until the drive has been idle a
// while; other hosts' commands to it meanwhile answer "not ready, operation
// in progress". The helper that stands for a person at the drives claims
// nothing and is never refused.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "Drive.h"
#include "StateLock.h"
#include "StateStore.h"

namespace velmor::emu {

// How long a drive stays claimed after its last command.
inline constexpr std::chrono::seconds kClaimIdle{15};

class TEmulator {
 public:
  enum class TRole : std::uint8_t { Bench, Host };
  // Opens the drives of Directory; an empty directory gets the default drive
  // with a blank DVD+RW.
  explicit TEmulator(std::string Directory, TRole Role = TRole::Bench);
  ~TEmulator();
  TEmulator(const TEmulator&) = delete;
  TEmulator& operator=(const TEmulator&) = delete;

  [[nodiscard]] bool Ready() const { return OpenError.empty(); }
  [[nodiscard]] const std::string& Error() const { return OpenError; }
  [[nodiscard]] const std::string& Directory() const { return Store.Directory(); }
  [[nodiscard]] std::size_t DriveCount() const { return Drives.size(); }
  [[nodiscard]] int DriveNumber(std::size_t Index) const { return Drives[Index].Number; }
  [[nodiscard]] bool Holds(const std::string& Path) const { return Store.Holds(Path); }

  // Runs one command. Answers BUSY when the directory stays locked by
  // another process, and 4/44/00 when what the command committed could not
  // be saved.
  [[nodiscard]] TCommandResult Execute(std::size_t Index, std::span<const std::uint8_t> Cdb, TDirection Direction,
                                       std::span<std::uint8_t> Data);

  // Runs Action on a drive under the locks, after picking up outside
  // changes. When the directory stays locked, Action does not run, the
  // result is a default one and TakeProblem says why.
  template <typename TAction>
  decltype(auto) WithDrive(std::size_t Index, TAction&& Action) {
    using TResult = std::invoke_result_t<TAction, TDrive&>;
    std::lock_guard guard(Lock);
    TDirectoryLock directory(Store.Directory());
    if (!directory.Held()) {
      Problem = InUseText();
      return TResult();
    }
    Refresh(Drives[Index]);
    return Action(*Drives[Index].Drive);
  }

  // A new drive, numbered after the last one, with no medium.
  [[nodiscard]] bool AddDrive(TDriveConfig Config, int& Number, std::string& Error);

  // True when another process (or another emulator of this one) holds the
  // drive's claim now.
  [[nodiscard]] bool InUseElsewhere(std::size_t Index);
  // Lets go of the claims of drives idle for at least Idle, with nothing
  // recorded waiting to be committed, no long operation and no lock on the
  // medium.
  void ReleaseIdleClaims(std::chrono::steady_clock::duration Idle = kClaimIdle);

  // The first state save that failed, or a lock that could not be had,
  // since the last call; empty when all went well.
  [[nodiscard]] std::string TakeProblem();

 private:
  struct TSlot {
    int Number = 0;
    std::unique_ptr<TDrive> Drive;
    TFileStamp StateStamp;
    TFileStamp FaultsStamp;
    std::unique_ptr<TDriveClaim> Claim;
    std::chrono::steady_clock::time_point LastCommand;
  };

  void Open();
  // Loads a drive and takes it in; false (and a message on standard error)
  // when its state cannot be used.
  [[nodiscard]] bool OpenDrive(int Number);
  void Attach(std::size_t Index);
  void Refresh(TSlot& Slot);
  [[nodiscard]] std::string InUseText() const;

  TStateStore Store;
  TRole Role;
  std::string OpenError;
  std::string Problem;
  std::vector<TSlot> Drives;
  std::mutex Lock;
};

}  // namespace velmor::emu
