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
