#include "StateLock.h"

#include <cerrno>
#include <map>
#include <thread>

#include "SystemFiles.h"

namespace velmor::emu {

namespace {

constexpr std::chrono::milliseconds kLockRetry{5};

// The directory locks the calling thread holds: descriptor and depth.
struct THeldDirectory {
  int Fd = -1;
  int Depth = 0;
};
thread_local std::map<std::string, THeldDirectory> HeldDirectories;

// The lock without waiting, again every few milliseconds until Wait has passed.
[[nodiscard]] bool LockWithin(int Fd, std::chrono::milliseconds Wait) {
  const auto deadline = std::chrono::steady_clock::now() + Wait;
  for (;;) {
    if (sys::TryLock(Fd)) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kLockRetry);
  }
}

}  // namespace

TDirectoryLock::TDirectoryLock(const std::string& Directory, std::chrono::milliseconds Wait) : Key(Directory) {
  THeldDirectory& held = HeldDirectories[Key];
  if (held.Depth == 0) {
    held.Fd = sys::OpenFolderLock(Directory);
    if (held.Fd < 0 || !LockWithin(held.Fd, Wait)) {
      if (held.Fd >= 0) sys::CloseFile(held.Fd);
      HeldDirectories.erase(Key);
      return;
    }
  }
  ++held.Depth;
  Holding = true;
}

TDirectoryLock::~TDirectoryLock() {
  if (!Holding) return;
  THeldDirectory& held = HeldDirectories[Key];
  if (--held.Depth > 0) return;
  sys::Unlock(held.Fd);
  sys::CloseFile(held.Fd);
  HeldDirectories.erase(Key);
}

bool TDriveClaim::Take() {
  if (Holding) return true;
  // A claim file removed by a reset since it was opened claims nothing: the
  // file under the name is opened again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (Fd < 0) Fd = sys::OpenFile(Path, sys::TOpen::ReadWriteCreate);
    if (Fd < 0 || !sys::TryLock(Fd)) return false;
    if (sys::SameFile(Fd, Path)) {
      Holding = true;
      return true;
    }
    sys::CloseFile(Fd);
    Fd = -1;
  }
  return false;
}

void TDriveClaim::Release() {
  if (Fd >= 0) sys::CloseFile(Fd);
  Fd = -1;
  Holding = false;
}

bool TDriveClaim::HeldElsewhere(const std::string& Path) {
  const int fd = sys::OpenFile(Path, sys::TOpen::Read);
  if (fd < 0) return false;
  const bool held = !sys::TryLock(fd) && errno == EWOULDBLOCK;
  sys::CloseFile(fd);
  return held;
}

}  // namespace velmor::emu
