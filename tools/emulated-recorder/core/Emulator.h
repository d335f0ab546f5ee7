#pragma once
// All drives of one state directory. Commands from any thread are run one at
// a time. A state file replaced by another process (the command-line helper
// inserting a disc or arming a fault) is read again before the next command,
// as a drive notices a medium change.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Drive.h"
#include "StateStore.h"

namespace velmor::emu {

class TEmulator {
 public:
  // Opens the drives of Directory; an empty directory gets the default drive
  // with a blank DVD+RW.
  explicit TEmulator(std::string Directory);
  ~TEmulator();
  TEmulator(const TEmulator&) = delete;
  TEmulator& operator=(const TEmulator&) = delete;

  [[nodiscard]] bool Ready() const { return OpenError.empty(); }
  [[nodiscard]] const std::string& Error() const { return OpenError; }
  [[nodiscard]] const std::string& Directory() const { return Store.Directory(); }
  [[nodiscard]] std::size_t DriveCount() const { return Drives.size(); }
  [[nodiscard]] int DriveNumber(std::size_t Index) const { return Drives[Index].Number; }

  [[nodiscard]] TCommandResult Execute(std::size_t Index, std::span<const std::uint8_t> Cdb, TDirection Direction,
                                       std::span<std::uint8_t> Data);

  // Runs Action on a drive under the lock, after picking up outside changes.
  template <typename TAction>
  decltype(auto) WithDrive(std::size_t Index, TAction&& Action) {
    std::lock_guard guard(Lock);
    Refresh(Drives[Index]);
    return Action(*Drives[Index].Drive);
  }

 private:
  struct TSlot {
    int Number = 0;
    std::unique_ptr<TDrive> Drive;
    TFileStamp StateStamp;
    TFileStamp FaultsStamp;
  };

  void Open();
  void Attach(std::size_t Index);
  void Refresh(TSlot& Slot);

  TStateStore Store;
  std::string OpenError;
  std::vector<TSlot> Drives;
  std::mutex Lock;
};

}  // namespace velmor::emu
