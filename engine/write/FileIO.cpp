#include "engine/write/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <io.h>

#include "engine/platform/Unicode.h"
#else
#include <unistd.h>
#endif

namespace kilnor {
namespace {

// Large pieces go through in bounded steps; some platforms count in 32 bits.
constexpr std::size_t kMaxStep = std::size_t{1} << 30;

#ifdef _WIN32
constexpr int kReadFlags = _O_RDONLY | _O_BINARY;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY;

int OpenPath(const std::string& path, int flags) {
  const std::u16string wide = Utf8ToUtf16(path);
  return ::_wopen(reinterpret_cast<const wchar_t*>(wide.c_str()), flags, _S_IREAD | _S_IWRITE);
}
bool StatOf(int fd, std::int64_t& size, bool& regular) {
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0) return false;
  size = st.st_size;
  regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  return true;
}
long long ReadSome(int fd, void* buffer, std::size_t bytes) { return ::_read(fd, buffer, static_cast<unsigned>(bytes)); }
long long WriteSome(int fd, const void* buffer, std::size_t bytes) {
  return ::_write(fd, buffer, static_cast<unsigned>(bytes));
}
int CloseFd(int fd) { return ::_close(fd); }
#else
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;

int OpenPath(const std::string& path, int flags) { return ::open(path.c_str(), flags, 0666); }
bool StatOf(int fd, std::int64_t& size, bool& regular) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  size = st.st_size;
  regular = S_ISREG(st.st_mode);
  return true;
}
long long ReadSome(int fd, void* buffer, std::size_t bytes) { return ::read(fd, buffer, bytes); }
long long WriteSome(int fd, const void* buffer, std::size_t bytes) { return ::write(fd, buffer, bytes); }
int CloseFd(int fd) { return ::close(fd); }
#endif

}  // namespace

TFile::~TFile() {
  if (fd_ >= 0) CloseFd(fd_);
}

TFile::TFile(TFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) CloseFd(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TFile TFile::OpenForReading(const std::string& Path) { return TFile(OpenPath(Path, kReadFlags)); }

TFile TFile::Create(const std::string& Path) { return TFile(OpenPath(Path, kCreateFlags)); }

void TFile::AdviseSequential() {
#if !defined(_WIN32) && defined(POSIX_FADV_SEQUENTIAL)
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

std::int64_t TFile::Size() const {
  std::int64_t size = -1;
  bool regular = false;
  return fd_ >= 0 && StatOf(fd_, size, regular) && regular ? size : -1;
}

bool TFile::IsRegular() const {
  std::int64_t size = -1;
  bool regular = false;
  return fd_ >= 0 && StatOf(fd_, size, regular) && regular;
}

std::int64_t TFile::ReadUpTo(void* Buffer, std::size_t Bytes) {
  auto* out = static_cast<char*>(Buffer);
  std::size_t done = 0;
  while (done < Bytes) {
    const long long got = ReadSome(fd_, out + done, std::min(Bytes - done, kMaxStep));
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
    const long long put = WriteSome(fd_, in, std::min(Bytes, kMaxStep));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    in += put;
    Bytes -= static_cast<std::size_t>(put);
  }
  return true;
}

bool TFile::Close() {
  if (fd_ < 0) return true;
  return CloseFd(std::exchange(fd_, -1)) == 0;
}

void RemoveFile(const std::string& Path) {
#ifdef _WIN32
  const std::u16string wide = Utf8ToUtf16(Path);
  ::_wremove(reinterpret_cast<const wchar_t*>(wide.c_str()));
#else
  std::remove(Path.c_str());
#endif
}

}  // namespace kilnor
