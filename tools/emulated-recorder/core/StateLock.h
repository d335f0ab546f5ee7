#pragma once
// What keeps the processes that share one state directory from losing each
// other's work: one lock for the directory, taken around every read and
// change of its files, and one claim per drive, held by the process that is
// using the drive, so that a second process cannot erase or burn on it at
// the same time. Both are flock()s: the system lets them go when a process
// ends, however it ends.
#include <chrono>
#include <string>

namespace velmor::emu {

// How long a process waits for another one to finish with the directory
// before it gives up; every holder keeps it for one short step only.
inline constexpr std::chrono::seconds kDirectoryLockWait{30};

// The directory's lock, held by one thread at a time. A thread that holds it
// already takes it again at once (the command-line helper holds it for its
// whole run, and its emulator's steps nest inside).
class TDirectoryLock {
 public:
  explicit TDirectoryLock(const std::string& Directory,
                          std::chrono::milliseconds Wait = kDirectoryLockWait);
  ~TDirectoryLock();
  TDirectoryLock(const TDirectoryLock&) = delete;
  TDirectoryLock& operator=(const TDirectoryLock&) = delete;

  // False when the directory could not be opened or another holder kept it
  // past the wait.
  [[nodiscard]] bool Held() const { return Holding; }

 private:
  std::string Key;
  bool Holding = false;
};

// A drive's claim, kept in its file beside the drive's state. Taken by the
// first command that uses the drive; let go when the drive has been idle.
class TDriveClaim {
 public:
  explicit TDriveClaim(std::string Path) : Path(std::move(Path)) {}
  ~TDriveClaim() { Release(); }
  TDriveClaim(const TDriveClaim&) = delete;
  TDriveClaim& operator=(const TDriveClaim&) = delete;

  // True when this holder has the claim, now or already; false when
  // another one has it. Never waits.
  [[nodiscard]] bool Take();
  void Release();
  [[nodiscard]] bool Held() const { return Holding; }
  // True when a holder other than the caller's claims has it now.
  [[nodiscard]] static bool HeldElsewhere(const std::string& Path);

 private:
  std::string Path;
  int Fd = -1;
  bool Holding = false;
};

}  // namespace velmor::emu
