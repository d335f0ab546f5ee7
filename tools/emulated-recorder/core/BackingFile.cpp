#include "BackingFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "SystemFiles.h"

namespace velmor::emu {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

[[nodiscard]] bool ReadFully(int Fd, std::uint8_t* Into, std::size_t Length, std::uint64_t Offset) {
  while (Length > 0) {
    const long long got = sys::ReadAt(Fd, Into, Length, Offset);
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
    const long long put = sys::WriteAt(Fd, From, Length, Offset);
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
  Fd = sys::OpenFile(Path, sys::TOpen::ReadWriteCreate);
  return Fd >= 0 && Resize(Capacity);
}

bool TBackingFile::OpenRecorded(const std::string& Path, std::uint32_t Capacity,
                                std::uint32_t Recorded, std::string& Error) {
  Close();
  Fd = sys::OpenFile(Path, sys::TOpen::ReadWrite);
  if (Fd < 0) {
    Error = "the data file " + Path + " cannot be opened: " + std::strerror(errno);
    return false;
  }
  const std::int64_t size = sys::SizeOf(Fd);
  const std::uint64_t needed = std::uint64_t{Recorded} * kBlockSize;
  if (size < 0 || static_cast<std::uint64_t>(size) < needed) {
    Error = "the data file " + Path + " holds " + std::to_string(std::max<std::int64_t>(size, 0) / kBlockSize) +
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
  const std::int64_t size = sys::SizeOf(Fd);
  if (size < 0 || (static_cast<std::uint64_t>(size) != Size && !sys::Resize(Fd, Size))) {
    Close();
    return false;
  }
  return true;
}

void TBackingFile::Close() {
  if (Fd >= 0) sys::CloseFile(Fd);
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

bool TBackingFile::Flush() { return Fd >= 0 && sys::SyncData(Fd); }

bool TBackingFile::Clear() {
  return Fd >= 0 && sys::Resize(Fd, 0) && sys::Resize(Fd, Size);
}

bool TBackingFile::ExportTo(const std::string& Path, std::uint32_t Blocks) const {
  if (Fd < 0) return false;
  const std::uint64_t length = std::min<std::uint64_t>(std::uint64_t{Blocks} * kBlockSize, Size);
  const std::string partial = Path + ".partial";
  const int out = sys::OpenFile(partial, sys::TOpen::WriteTruncate);
  if (out < 0) return false;
  bool ok = sys::Resize(out, length);
  std::vector<std::uint8_t> chunk(kCopyChunk);
  // Copy only the data extents; holes stay holes in the export.
  std::uint64_t at = 0;
  while (ok && at < length) {
    const sys::TExtent data = sys::NextDataExtent(Fd, at, length);
    if (data.End == data.Start) break;
    for (std::uint64_t pos = data.Start; ok && pos < data.End;) {
      const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(data.End - pos, kCopyChunk));
      ok = ReadFully(Fd, chunk.data(), part, pos) && WriteFully(out, chunk.data(), part, pos);
      pos += part;
    }
    at = data.End;
  }
  ok = sys::Sync(out) && ok;
  ok = sys::CloseFile(out) == 0 && ok;
  // The image appears under its name only when it is complete.
  if (ok) ok = sys::RenameOver(partial, Path);
  if (!ok) sys::RemoveFile(partial);
  return ok;
}

std::optional<std::uint32_t> TBackingFile::ImportFrom(const std::string& Path, std::string& Error) {
  const int in = sys::OpenFile(Path, sys::TOpen::Read);
  if (in < 0 || Fd < 0) {
    Error = "cannot read the image " + Path + ": " + std::strerror(in < 0 ? errno : EBADF);
    if (in >= 0) sys::CloseFile(in);
    return std::nullopt;
  }
  std::vector<std::uint8_t> chunk(kCopyChunk);
  std::uint64_t total = 0;
  bool ok = true;
  while (ok && total < Size) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, Size - total));
    const long long got = sys::ReadNext(in, chunk.data(), want);
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
  const bool larger = ok && total == Size && sys::ReadNext(in, &beyond, 1) > 0;
  sys::CloseFile(in);
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
