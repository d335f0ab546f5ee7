#include "engine/write/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <io.h>
#define read _read
#define write _write
#define close _close
#else
#include <unistd.h>
#endif

namespace kilnor {
namespace {

#ifdef _WIN32
constexpr int kReadFlags = _O_RDONLY | _O_BINARY;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY;
// Large pieces go through in bounded steps; the platform's count is 32-bit.
constexpr std::size_t kMaxStep = 1u << 30;
#else
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr std::size_t kMaxStep = std::size_t{1} << 30;
#endif

}  // namespace

TFile::~TFile() {
  if (fd_ >= 0) ::close(fd_);
}

TFile::TFile(TFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TFile TFile::OpenForReading(const std::string& Path) { return TFile(::open(Path.c_str(), kReadFlags)); }

void TFile::AdviseSequential() {
#if !defined(_WIN32) && defined(POSIX_FADV_SEQUENTIAL)
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

TFile TFile::Create(const std::string& Path) { return TFile(::open(Path.c_str(), kCreateFlags, 0666)); }

std::int64_t TFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

bool TFile::IsRegular() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t TFile::ReadUpTo(void* Buffer, std::size_t Bytes) {
  auto* out = static_cast<char*>(Buffer);
  std::size_t done = 0;
  while (done < Bytes) {
    const auto got = ::read(fd_, out + done, static_cast<unsigned>(std::min(Bytes - done, kMaxStep)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

bool TFile::WriteAll(const void* Buffer, std::size_t Bytes) {
  const auto* in = static_cast<const char*>(Buffer);
  while (Bytes > 0) {
    const auto put = ::write(fd_, in, static_cast<unsigned>(std::min(Bytes, kMaxStep)));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    in += put;
    Bytes -= static_cast<std::size_t>(put);
  }
  return true;
}

bool TFile::Close() {
  if (fd_ < 0) return true;
  const int result = ::close(std::exchange(fd_, -1));
  return result == 0;
}

void RemoveFile(const std::string& Path) { std::remove(Path.c_str()); }

}  // namespace kilnor
