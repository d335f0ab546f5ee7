#include "BackingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace velmor::emu {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

[[nodiscard]] bool ReadFully(int Fd, std::uint8_t* Into, std::size_t Length, std::uint64_t Offset) {
  while (Length > 0) {
    const ssize_t got = ::pread(Fd, Into, Length, static_cast<off_t>(Offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) {  // past the end of a shorter file: unwritten, reads as zeros
      std::fill(Into, Into + Length, std::uint8_t{0});
      return true;
    }
    Into += got;
    Length -= static_cast<std::size_t>(got);
    Offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

[[nodiscard]] bool WriteFully(int Fd, const std::uint8_t* From, std::size_t Length, std::uint64_t Offset) {
  while (Length > 0) {
    const ssize_t put = ::pwrite(Fd, From, Length, static_cast<off_t>(Offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    From += put;
    Length -= static_cast<std::size_t>(put);
    Offset += static_cast<std::uint64_t>(put);
  }
  return true;
}

}  // namespace

TBackingFile::~TBackingFile() { Close(); }

TBackingFile::TBackingFile(TBackingFile&& Other) noexcept : Fd(Other.Fd), Size(Other.Size) {
  Other.Fd = -1;
}

TBackingFile& TBackingFile::operator=(TBackingFile&& Other) noexcept {
  if (this != &Other) {
    Close();
    std::swap(Fd, Other.Fd);
    Size = Other.Size;
  }
  return *this;
}

bool TBackingFile::Open(const std::string& Path, std::uint32_t Capacity) {
  Close();
  Fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return Fd >= 0 && Resize(Capacity);
}

bool TBackingFile::OpenRecorded(const std::string& Path, std::uint32_t Capacity,
                                std::uint32_t Recorded, std::string& Error) {
  Close();
  Fd = ::open(Path.c_str(), O_RDWR | O_CLOEXEC);
  if (Fd < 0) {
    Error = "the data file " + Path + " cannot be opened: " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  const std::uint64_t needed = std::uint64_t{Recorded} * kBlockSize;
  if (::fstat(Fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < needed) {
    Error = "the data file " + Path + " holds " + std::to_string(info.st_size / kBlockSize) +
            " blocks, fewer than the " + std::to_string(Recorded) + " recorded on the medium";
    Close();
    return false;
  }
  if (Resize(Capacity)) return true;
  Error = "the data file " + Path + " cannot be sized: " + std::strerror(errno);
  return false;
}

bool TBackingFile::Resize(std::uint32_t Capacity) {
  Size = std::uint64_t{Capacity} * kBlockSize;
  struct stat info {};
  if (::fstat(Fd, &info) != 0 || (static_cast<std::uint64_t>(info.st_size) != Size &&
                                  ::ftruncate(Fd, static_cast<off_t>(Size)) != 0)) {
    Close();
    return false;
  }
  return true;
}

void TBackingFile::Close() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

bool TBackingFile::Read(std::uint32_t Lba, std::span<std::uint8_t> Into) const {
  const std::uint64_t offset = std::uint64_t{Lba} * kBlockSize;
  if (Fd < 0 || offset + Into.size() > Size) return false;
  return ReadFully(Fd, Into.data(), Into.size(), offset);
}

bool TBackingFile::Write(std::uint32_t Lba, std::span<const std::uint8_t> From) {
  const std::uint64_t offset = std::uint64_t{Lba} * kBlockSize;
  if (Fd < 0 || offset + From.size() > Size) return false;
  return WriteFully(Fd, From.data(), From.size(), offset);
}

bool TBackingFile::Flush() { return Fd >= 0 && ::fdatasync(Fd) == 0; }

bool TBackingFile::Clear() {
  return Fd >= 0 && ::ftruncate(Fd, 0) == 0 && ::ftruncate(Fd, static_cast<off_t>(Size)) == 0;
}

bool TBackingFile::ExportTo(const std::string& Path, std::uint32_t Blocks) const {
  if (Fd < 0) return false;
  const std::uint64_t length = std::min<std::uint64_t>(std::uint64_t{Blocks} * kBlockSize, Size);
  const std::string partial = Path + ".partial";
  const int out = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return false;
  bool ok = ::ftruncate(out, static_cast<off_t>(length)) == 0;
  std::vector<std::uint8_t> chunk(kCopyChunk);
  // Copy only the data extents; holes stay holes in the export.
  off_t at = 0;
  while (ok && static_cast<std::uint64_t>(at) < length) {
    off_t data = ::lseek(Fd, at, SEEK_DATA);
    if (data < 0 || static_cast<std::uint64_t>(data) >= length) break;
    off_t hole = ::lseek(Fd, data, SEEK_HOLE);
    if (hole < 0) hole = static_cast<off_t>(length);
    hole = std::min<off_t>(hole, static_cast<off_t>(length));
    for (off_t pos = data; ok && pos < hole;) {
      const auto part = static_cast<std::size_t>(std::min<off_t>(hole - pos, static_cast<off_t>(kCopyChunk)));
      ok = ReadFully(Fd, chunk.data(), part, static_cast<std::uint64_t>(pos)) &&
           WriteFully(out, chunk.data(), part, static_cast<std::uint64_t>(pos));
      pos += static_cast<off_t>(part);
    }
    at = hole;
  }
  ok = ::fsync(out) == 0 && ok;
  ok = ::close(out) == 0 && ok;
  // The image appears under its name only when it is complete.
  if (ok) ok = std::rename(partial.c_str(), Path.c_str()) == 0;
  if (!ok) std::remove(partial.c_str());
  return ok;
}

std::optional<std::uint32_t> TBackingFile::ImportFrom(const std::string& Path, std::string& Error) {
  const int in = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0 || Fd < 0) {
    Error = "cannot read the image " + Path + ": " + std::strerror(in < 0 ? errno : EBADF);
    if (in >= 0) ::close(in);
    return std::nullopt;
  }
  std::vector<std::uint8_t> chunk(kCopyChunk);
  std::uint64_t total = 0;
  bool ok = true;
  while (ok && total < Size) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, Size - total));
    const ssize_t got = ::read(in, chunk.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = WriteFully(Fd, chunk.data(), static_cast<std::size_t>(got), total);
    total += static_cast<std::uint64_t>(got);
  }
  // An image that goes on past the medium's end would lose its tail.
  std::uint8_t beyond = 0;
  const bool larger = ok && total == Size && ::read(in, &beyond, 1) > 0;
  ::close(in);
  if (!ok) {
    Error = "cannot read the image " + Path;
    return std::nullopt;
  }
  if (larger) {
    Error = "the image " + Path + " is larger than the medium (" + std::to_string(Size / kBlockSize) +
            " blocks)";
    return std::nullopt;
  }
  return static_cast<std::uint32_t>((total + kBlockSize - 1) / kBlockSize);
}

}  // namespace velmor::emu
