#pragma once
// The find data a folder search yields for one item: long name, 8.3 alias,
// attributes, times and size. The compilation is built from these records, and
// the OnAddFile handler may rewrite them before an entry is made.
#include <cstdint>
#include <string>

namespace kilnor {

// 100-nanosecond intervals since 1601-01-01 UTC.
using TFileTime = std::uint64_t;

// Calendar time, as the compilation keeps it (already in local time).
struct TSystemTime {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;
  std::uint16_t wDayOfWeek = 0;
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;
};

inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeSystem = 0x04;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;
// An item that holds no ordinary data (a FIFO, socket, device node, or a
// symbolic link whose target is missing or is such an item).
inline constexpr std::uint32_t kAttributeDevice = 0x40;
// A symbolic link; the directory bit says whether its target is a folder.
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;

// A POSIX time to the nanosecond.
struct TPosixTime {
  std::int64_t Seconds = 0;  // since 1970-01-01 UTC
  std::uint32_t Nanoseconds = 0;
  bool operator==(const TPosixTime&) const = default;
};

// What a POSIX file system keeps of an item beyond its name, size and data:
// the folder search reads it, and the compilation records it as Rock Ridge
// and reads it back from an earlier session.
struct TPosixStatus {
  std::uint32_t Mode = 0;          // file type and permission bits, as st_mode
  std::uint32_t Links = 1;
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  std::uint64_t SerialNumber = 0;  // the file serial number ("inode")
  TPosixTime Modify;
  TPosixTime Access;
  TPosixTime Change;               // attribute change
  bool operator==(const TPosixStatus&) const = default;
};

// An item's own POSIX status as a folder search read it (for a symbolic link
// the link's, not its target's), so that recording it needs no second look.
struct TItemStatus : TPosixStatus {
  std::uint64_t Size = 0;          // for a link, the length of its target
};

inline constexpr std::size_t kMaxPathChars = 260;
inline constexpr std::size_t kAlternateNameChars = 14;

// Wide find data. Names are NUL-terminated inside their fixed fields; every
// copy into them is bounds-checked by the helpers of FileSearch.h.
struct TWin32FindDataW {
  std::uint32_t dwFileAttributes = 0;
  TFileTime ftCreationTime = 0;
  TFileTime ftLastAccessTime = 0;
  TFileTime ftLastWriteTime = 0;
  std::uint32_t nFileSizeHigh = 0;
  std::uint32_t nFileSizeLow = 0;
  char16_t cFileName[kMaxPathChars] = {};
  char16_t cAlternateFileName[kAlternateNameChars] = {};
};

// 8-bit find data; names are UTF-8, this platform's code page.
struct TWin32FindDataA {
  std::uint32_t dwFileAttributes = 0;
  TFileTime ftCreationTime = 0;
  TFileTime ftLastAccessTime = 0;
  TFileTime ftLastWriteTime = 0;
  std::uint32_t nFileSizeHigh = 0;
  std::uint32_t nFileSizeLow = 0;
  char cFileName[kMaxPathChars] = {};
  char cAlternateFileName[kAlternateNameChars] = {};
};

}  // namespace kilnor
