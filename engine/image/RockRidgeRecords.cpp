#include "engine/image/RockRidgeRecords.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "engine/image/DirectoryRecords.h"
#include "engine/platform/LocalTime.h"

namespace kilnor {
namespace {

// PX (RRIP 4.1.1): mode, links, uid, gid, and from 1.12 on the serial
// number, each both-endian; the entry is 36 or 44 bytes.
constexpr std::size_t kPosixShortData = 32;
constexpr std::size_t kPosixLongData = 40;
constexpr std::size_t kModeAt = 0;
constexpr std::size_t kLinksAt = 8;
constexpr std::size_t kUidAt = 16;
constexpr std::size_t kGidAt = 24;
constexpr std::size_t kSerialAt = 32;

// TF (RRIP 4.1.6): which times follow, in the order of these bits.
constexpr std::uint8_t kTimeCreation = 0x01;
constexpr std::uint8_t kTimeModify = 0x02;
constexpr std::uint8_t kTimeAccess = 0x04;
constexpr std::uint8_t kTimeAttributes = 0x08;
constexpr std::uint8_t kTimeLongForm = 0x80;
constexpr std::size_t kTimeKinds = 7;
constexpr std::size_t kShortTimeBytes = 7;
constexpr std::size_t kLongTimeBytes = 17;

// NM (RRIP 4.1.4) and SL components (4.1.3.1) share these flags.
constexpr std::uint8_t kContinues = 0x01;
constexpr std::uint8_t kCurrent = 0x02;
constexpr std::uint8_t kParent = 0x04;
constexpr std::uint8_t kRoot = 0x08;
constexpr std::uint8_t kVolumeRoot = 0x10;
constexpr std::uint8_t kHost = 0x20;

constexpr std::size_t kLinkBytes = 8;  // CL and PL: one both-endian extent

constexpr std::array<std::string_view, 3> kRockRidgeExtensions{"RRIP_1991A", "IEEE_P1282", "IEEE_1282"};

std::string_view Text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string EntryOfLength(const TSystemUseEntry& entry) {
  return "a " + std::string(entry.Signature, 2) + " entry of " + std::to_string(entry.Data.size() + kSystemUseHeaderBytes) + " bytes";
}

int Digits(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A time of either TF form; nullopt when it is unset or not a real date.
std::optional<TPosixTime> TimeOf(std::span<const std::uint8_t> bytes) {
  if (bytes.size() == kShortTimeBytes) {
    const std::optional<TFileTime> instant = RecordedInstant(bytes);
    if (!instant) return std::nullopt;
    return TPosixTime{UnixSecondsOfFileTime(*instant), 0};
  }
  const std::string_view digits = Text(bytes.first(16));
  const int hundredths = Digits(digits.substr(14, 2));
  const std::optional<TFileTime> instant =
      InstantOf({Digits(digits.substr(0, 4)), Digits(digits.substr(4, 2)), Digits(digits.substr(6, 2)),
                 Digits(digits.substr(8, 2)), Digits(digits.substr(10, 2)), Digits(digits.substr(12, 2)),
                 static_cast<std::int8_t>(bytes[16])});
  if (!instant || hundredths < 0) return std::nullopt;
  return TPosixTime{UnixSecondsOfFileTime(*instant), static_cast<std::uint32_t>(hundredths) * 10'000'000u};
}

// Gathers the entries of one record into its fields, keeping the state of a
// name or link target that continues in a later entry.
class TEntryCollector {
 public:
  explicit TEntryCollector(TRockRidgeFields& fields) : fields_(fields) {}

  [[nodiscard]] bool Take(const TSystemUseEntry& entry, std::string& why) {
    if (entry.Is("PX")) return TakePosix(entry, why);
    if (entry.Is("TF")) return TakeTimes(entry, why);
    if (entry.Is("NM")) return TakeName(entry, why);
    if (entry.Is("SL")) return TakeLink(entry, why);
    if (entry.Is("RE")) {
      fields_.Any = fields_.Relocated = true;
      return true;
    }
    if (entry.Is("CL") || entry.Is("PL")) return TakeRelocation(entry, why);
    if (entry.Is("ZF")) fields_.Compressed = true;
    if (entry.Is("RR")) fields_.Any = true;
    return true;
  }

  [[nodiscard]] bool Finish(std::string& why) const {
    if (nameOpen_) {
      why = "a name (NM) continues into an entry that never comes";
      return false;
    }
    if (linkOpen_ || componentOpen_) {
      why = "a symbolic link's target (SL) continues into an entry that never comes";
      return false;
    }
    return true;
  }

 private:
  [[nodiscard]] bool TakePosix(const TSystemUseEntry& entry, std::string& why) {
    if (entry.Data.size() != kPosixShortData && entry.Data.size() != kPosixLongData) {
      why = EntryOfLength(entry) + ", neither 36 nor 44";
      return false;
    }
    TPosixAttributes& posix = fields_.Posix;
    posix.Mode = LittleEndian32(entry.Data, kModeAt);
    posix.Links = LittleEndian32(entry.Data, kLinksAt);
    posix.Uid = LittleEndian32(entry.Data, kUidAt);
    posix.Gid = LittleEndian32(entry.Data, kGidAt);
    if (entry.Data.size() == kPosixLongData) posix.SerialNumber = LittleEndian32(entry.Data, kSerialAt);
    fields_.Any = fields_.HasMode = true;
    return true;
  }

  [[nodiscard]] bool TakeTimes(const TSystemUseEntry& entry, std::string& why) {
    if (entry.Data.empty()) {
      why = EntryOfLength(entry) + ", too short for its flags";
      return false;
    }
    const std::uint8_t flags = entry.Data[0];
    const std::size_t size = (flags & kTimeLongForm) ? kLongTimeBytes : kShortTimeBytes;
    std::size_t at = 1;
    for (std::size_t kind = 0; kind < kTimeKinds; ++kind) {
      const auto bit = static_cast<std::uint8_t>(1u << kind);
      if (!(flags & bit)) continue;
      if (entry.Data.size() - at < size) {
        why = EntryOfLength(entry) + ", shorter than the times its flags name";
        return false;
      }
      StoreTime(bit, TimeOf(entry.Data.subspan(at, size)));
      at += size;
    }
    fields_.Any = true;
    return true;
  }

  void StoreTime(std::uint8_t bit, std::optional<TPosixTime> time) {
    if (!time || bit == kTimeCreation) return;
    TPosixAttributes& posix = fields_.Posix;
    if (bit == kTimeModify) {
      posix.Modify = *time;
      fields_.HasModifyTime = true;
    } else if (bit == kTimeAccess) {
      posix.Access = *time;
    } else if (bit == kTimeAttributes) {
      posix.Change = *time;
    }
  }

  [[nodiscard]] bool TakeName(const TSystemUseEntry& entry, std::string& why) {
    if (entry.Data.empty()) {
      why = EntryOfLength(entry) + ", too short for its flags";
      return false;
    }
    const std::uint8_t flags = entry.Data[0];
    fields_.Any = true;
    // "." and ".." and the host's name are not names of the record's own.
    if (flags & (kCurrent | kParent | kHost)) return true;
    if (fields_.HasName && !nameOpen_) {
      why = "a record with two names (NM)";
      return false;
    }
    fields_.Posix.Names.edit().Name.append(Text(entry.Data.subspan(1)));
    fields_.HasName = true;
    nameOpen_ = (flags & kContinues) != 0;
    return true;
  }

  [[nodiscard]] bool TakeLink(const TSystemUseEntry& entry, std::string& why) {
    if (entry.Data.empty()) {
      why = EntryOfLength(entry) + ", too short for its flags";
      return false;
    }
    if (fields_.IsLink && !linkOpen_) {
      why = "a record with two symbolic link targets (SL)";
      return false;
    }
    fields_.Any = fields_.IsLink = true;
    linkOpen_ = (entry.Data[0] & kContinues) != 0;
    for (std::size_t at = 1; at < entry.Data.size();) {
      if (entry.Data.size() - at < 2 || entry.Data[at + 1] > entry.Data.size() - at - 2) {
        why = "a symbolic link component passes the end of its SL entry";
        return false;
      }
      TakeComponent(entry.Data[at], entry.Data.subspan(at + 2, entry.Data[at + 1]));
      at += 2 + entry.Data[at + 1];
    }
    return true;
  }

  // Components are joined by "/", except a component continued in the next
  // one; a root component is the leading "/" itself.
  void TakeComponent(std::uint8_t flags, std::span<const std::uint8_t> content) {
    std::string& target = fields_.Posix.Names.edit().LinkTarget;
    if (flags & (kRoot | kVolumeRoot)) {
      target += '/';
      needSlash_ = componentOpen_ = false;
      return;
    }
    if (needSlash_) target += '/';
    if (flags & kCurrent) {
      target += '.';
    } else if (flags & kParent) {
      target += "..";
    } else if (!(flags & kHost)) {
      target.append(Text(content));
    }
    componentOpen_ = (flags & kContinues) != 0;
    needSlash_ = !componentOpen_;
  }

  [[nodiscard]] bool TakeRelocation(const TSystemUseEntry& entry, std::string& why) {
    if (entry.Data.size() < kLinkBytes) {
      why = EntryOfLength(entry) + ", fewer than 12";
      return false;
    }
    fields_.Any = true;
    if (entry.Is("CL")) fields_.ChildLink = LittleEndian32(entry.Data, 0);
    return true;
  }

  TRockRidgeFields& fields_;
  bool nameOpen_ = false;
  bool linkOpen_ = false;
  bool componentOpen_ = false;
  bool needSlash_ = false;
};

bool NamesRockRidge(const TSystemUseEntry& entry) {
  constexpr std::size_t kHeader = 4;  // LEN_ID, LEN_DES, LEN_SRC, EXT_VER
  if (!entry.Is("ER") || entry.Data.size() < kHeader || entry.Data[0] > entry.Data.size() - kHeader) return false;
  const std::string_view id = Text(entry.Data.subspan(kHeader, entry.Data[0]));
  return std::find(kRockRidgeExtensions.begin(), kRockRidgeExtensions.end(), id) != kRockRidgeExtensions.end();
}

}  // namespace

TRockRidgePresence DetectRockRidge(TSectorSource& Source, std::uint32_t RootExtent, std::uint64_t VolumeEnd,
                                   std::uint8_t& Skip, std::string& Why) {
  // A root outside the volume is refused by the walk, whichever tree it reads.
  if (!ExtentInside(RootExtent, kSessionSectorBytes, VolumeEnd)) return TRockRidgePresence::Absent;
  std::vector<std::uint8_t> sector(kSessionSectorBytes);
  if (!Source.ReadSectors(RootExtent, 1, sector)) {
    Why = "cannot read directory \\ at sector " + std::to_string(RootExtent);
    return TRockRidgePresence::Unreadable;
  }
  TDirectoryRecord self;
  if (ReadDirectoryRecord(sector, 0, self, Why) != TRecordRead::Record) return TRockRidgePresence::Absent;
  const std::optional<TSharingProtocol> protocol = SharingProtocolOf(self.SystemUse);
  if (!protocol) return TRockRidgePresence::Absent;
  bool named = false;
  TRockRidgeFields fields;
  TEntryCollector collector(fields);
  TSystemUseReader reader(Source, VolumeEnd);
  const auto visit = [&](const TSystemUseEntry& entry, std::string& why) {
    named = named || NamesRockRidge(entry);
    return collector.Take(entry, why);
  };
  if (!reader.Walk(self.SystemUse, visit, Why) || !collector.Finish(Why)) {
    Why = "the root directory's system use area: " + Why;
    return reader.ReadFailed() ? TRockRidgePresence::Unreadable : TRockRidgePresence::Malformed;
  }
  Skip = protocol->Skip;
  return named || fields.Any ? TRockRidgePresence::Present : TRockRidgePresence::Absent;
}

TRockRidgeReader::TRockRidgeReader(TSectorSource& Source, std::uint64_t VolumeEnd, std::uint8_t Skip)
    : areas_(Source, VolumeEnd), skip_(Skip) {}

bool TRockRidgeReader::Read(std::span<const std::uint8_t> SystemUse, bool IsRootSelf, TRockRidgeFields& Fields,
                            std::string& Why) {
  Fields = {};
  const std::span<const std::uint8_t> area =
      IsRootSelf ? SystemUse : SystemUse.subspan(std::min<std::size_t>(skip_, SystemUse.size()));
  TEntryCollector collector(Fields);
  const auto visit = [&](const TSystemUseEntry& entry, std::string& why) { return collector.Take(entry, why); };
  return areas_.Walk(area, visit, Why) && collector.Finish(Why);
}

}  // namespace kilnor
