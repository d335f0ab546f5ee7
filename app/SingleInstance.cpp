#include "app/SingleInstance.h"

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#ifdef _WIN32

TSingleInstance::TSingleInstance() {
  mutex_ = CreateMutexW(nullptr, TRUE, L"VelmorDataBurner");
  acquired_ = mutex_ != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
}

TSingleInstance::~TSingleInstance() {
  if (mutex_ == nullptr) return;
  if (acquired_) ReleaseMutex(mutex_);
  CloseHandle(mutex_);
}

std::string TSingleInstance::LockPath() { return "VelmorDataBurner"; }

#else

TSingleInstance::TSingleInstance() {
  // Not inherited by programs the shell starts, so the lock ends with it; a
  // link planted under the name in a shared folder is not followed.
  lockFile_ = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  acquired_ = lockFile_ >= 0 && flock(lockFile_, LOCK_EX | LOCK_NB) == 0;
}

TSingleInstance::~TSingleInstance() {
  if (lockFile_ >= 0) close(lockFile_);
}

std::string TSingleInstance::LockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    return (std::filesystem::path(runtime) / "VelmorDataBurner.lock").string();
  }
  const std::string name = "VelmorDataBurner-" + std::to_string(getuid()) + ".lock";
  std::error_code noTemporaryFolder;
  std::filesystem::path folder = std::filesystem::temp_directory_path(noTemporaryFolder);
  if (noTemporaryFolder) folder = "/tmp";
  return (folder / name).string();
}

#endif

bool TSingleInstance::Acquired() const { return acquired_; }
