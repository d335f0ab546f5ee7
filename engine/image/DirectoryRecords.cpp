#include "engine/image/DirectoryRecords.h"

#include <string_view>

#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

constexpr std::size_t kExtentOffset = 2;
constexpr std::size_t kDataLengthOffset = 10;
constexpr std::size_t kDateOffset = 18;
constexpr std::size_t kDateBytes = 7;
constexpr std::size_t kFlagsOffset = 25;
constexpr std::size_t kIdentifierLengthOffset = 32;
constexpr std::size_t kIdentifierOffset = 33;
constexpr int kMinOffsetQuarters = -48;
constexpr int kMaxOffsetQuarters = 52;
constexpr std::int64_t kSecondsPerQuarterHour = 15 * 60;

std::u16string Latin1(std::span<const std::uint8_t> bytes) {
  return std::u16string(bytes.begin(), bytes.end());
}

bool IsDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

// ";1" to ";32767": the version suffix ECMA-119 7.5.1 allows.
std::size_t VersionSuffixStart(std::u16string_view name) {
  const std::size_t semicolon = name.rfind(u';');
  if (semicolon == std::u16string_view::npos) return name.size();
  const std::u16string_view digits = name.substr(semicolon + 1);
  if (digits.empty() || digits.size() > 5) return name.size();
  for (char16_t unit : digits)
    if (!IsDigit(unit)) return name.size();
  return semicolon;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

TRecordRead ReadDirectoryRecord(std::span<const std::uint8_t> Sector, std::size_t Offset,
                                TDirectoryRecord& Record, std::string& Why) {
  if (Offset >= Sector.size() || Sector[Offset] == 0) return TRecordRead::EndOfSector;
  const std::size_t length = Sector[Offset];
  if (length < kMinRecordBytes) {
    Why = "a directory record of " + std::to_string(length) + " bytes, fewer than 34";
    return TRecordRead::Malformed;
  }
  if (Offset + length > Sector.size()) {
    Why = "a directory record passes the end of its sector";
    return TRecordRead::Malformed;
  }
  const std::span<const std::uint8_t> bytes = Sector.subspan(Offset, length);
  const std::size_t identifierLength = bytes[kIdentifierLengthOffset];
  if (kIdentifierOffset + identifierLength > length) {
    Why = "a directory record's identifier passes the end of the record";
    return TRecordRead::Malformed;
  }
  Record.Length = static_cast<std::uint8_t>(length);
  Record.Extent = LittleEndian32(bytes, kExtentOffset);
  Record.DataLength = LittleEndian32(bytes, kDataLengthOffset);
  Record.Date = bytes.subspan(kDateOffset, kDateBytes);
  Record.Flags = bytes[kFlagsOffset];
  Record.Identifier = bytes.subspan(kIdentifierOffset, identifierLength);
  // An identifier of even length is followed by one padding byte.
  const std::size_t systemUse = kIdentifierOffset + identifierLength + (identifierLength % 2 == 0 ? 1 : 0);
  Record.SystemUse = systemUse < length ? bytes.subspan(systemUse) : std::span<const std::uint8_t>();
  return TRecordRead::Record;
}

std::u16string DecodeText(std::span<const std::uint8_t> Bytes, TNameEncoding Names) {
  if (Names == TNameEncoding::Ucs2BigEndian) {
    std::u16string text;
    text.reserve(Bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < Bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(Bytes[i] << 8 | Bytes[i + 1]));
    return text;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(Bytes.data()), Bytes.size());
  return IsValidUtf8(bytes) ? Utf8ToUtf16(bytes) : Latin1(Bytes);
}

std::u16string DecodeIdentifier(std::span<const std::uint8_t> Identifier, TVolumeKind Kind,
                                TNameEncoding Names) {
  std::u16string name = DecodeText(Identifier, Names);
  const std::size_t suffix = VersionSuffixStart(name);
  if (suffix == name.size()) return name;
  name.resize(suffix);
  if (Kind == TVolumeKind::Primary && name.size() > 1 && name.back() == u'.') name.pop_back();
  return name;
}

std::optional<TFileTime> RecordedInstant(std::span<const std::uint8_t> Date) {
  if (Date.size() < kDateBytes) return std::nullopt;
  return InstantOf({1900 + Date[0], Date[1], Date[2], Date[3], Date[4], Date[5], static_cast<std::int8_t>(Date[6])});
}

std::optional<TFileTime> InstantOf(const TRecordedCalendar& Calendar) {
  const TRecordedCalendar& c = Calendar;
  if (c.Year < 1 || c.Year > 9999 || c.Month < 1 || c.Month > 12 || c.Day < 1 ||
      c.Day > DaysInMonth(c.Year, c.Month) || c.Hour < 0 || c.Hour > 23 || c.Minute < 0 || c.Minute > 59 ||
      c.Second < 0 || c.Second > 59 || c.OffsetQuarters < kMinOffsetQuarters || c.OffsetQuarters > kMaxOffsetQuarters) {
    return std::nullopt;
  }
  TSystemTime wall;
  wall.wYear = static_cast<std::uint16_t>(c.Year);
  wall.wMonth = static_cast<std::uint16_t>(c.Month);
  wall.wDay = static_cast<std::uint16_t>(c.Day);
  wall.wHour = static_cast<std::uint16_t>(c.Hour);
  wall.wMinute = static_cast<std::uint16_t>(c.Minute);
  wall.wSecond = static_cast<std::uint16_t>(c.Second);
  const std::int64_t utcSeconds =
      UnixSecondsOfFileTime(FileTimeOfCalendar(wall)) - c.OffsetQuarters * kSecondsPerQuarterHour;
  return FileTimeFromUnix(utcSeconds, 0);
}

bool ExtentInside(std::uint32_t Extent, std::uint64_t Length, std::uint64_t End) {
  return std::uint64_t{Extent} + SectorsOf(Length) <= End;
}

}  // namespace kilnor
