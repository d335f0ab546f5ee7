#include "StateLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <thread>

namespace velmor::emu {

namespace {

constexpr std::chrono::milliseconds kLockRetry{5};

// The directory locks the calling thread holds: descriptor and depth.
struct THeldDirectory {
  int Fd = -1;
  int Depth = 0;
};
thread_local std::map<std::string, THeldDirectory> HeldDirectories;

// flock without waiting, again every few milliseconds until Wait has passed.
[[nodiscard]] bool LockWithin(int Fd, std::chrono::milliseconds Wait) {
  const auto deadline = std::chrono::steady_clock::now() + Wait;
  for (;;) {
    if (::flock(Fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kLockRetry);
  }
}

[[nodiscard]] bool SameFile(int Fd, const std::string& Path) {
  struct stat open {}, named {};
  return ::fstat(Fd, &open) == 0 && ::stat(Path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

}  // namespace

TDirectoryLock::TDirectoryLock(const std::string& Directory, std::chrono::milliseconds Wait) : Key(Directory) {
  THeldDirectory& held = HeldDirectories[Key];
  if (held.Depth == 0) {
    held.Fd = ::open(Directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (held.Fd < 0 || !LockWithin(held.Fd, Wait)) {
      if (held.Fd >= 0) ::close(held.Fd);
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
  ::flock(held.Fd, LOCK_UN);
  ::close(held.Fd);
  HeldDirectories.erase(Key);
}

bool TDriveClaim::Take() {
  if (Holding) return true;
  // A claim file removed by a reset since it was opened claims nothing: the
  // file under the name is opened again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (Fd < 0) Fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (Fd < 0 || ::flock(Fd, LOCK_EX | LOCK_NB) != 0) return false;
    if (SameFile(Fd, Path)) {
      Holding = true;
      return true;
    }
    ::close(Fd);
    Fd = -1;
  }
  return false;
}

void TDriveClaim::Release() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  Holding = false;
}

bool TDriveClaim::HeldElsewhere(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace velmor::emu
