#include "engine/image/RockRidge.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "engine/image/Directories.h"
#include "engine/image/RecordingDates.h"
#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

constexpr std::uint8_t kFieldVersion = 1;
constexpr std::uint32_t kFieldHeadBytes = 4;
constexpr std::uint32_t kMaxFieldBytes = 255;
// SUSP 5.1: continuation area (block, offset and length, each both-endian).
constexpr std::uint32_t kContinuationFieldBytes = 28;
// SUSP 5.3: the "SP" indicator with its check bytes and no bytes to skip.
constexpr std::uint32_t kIndicatorFieldBytes = 7;
// RRIP 4.1.1: mode, links, uid, gid and serial number, each both-endian.
constexpr std::uint32_t kAttributesFieldBytes = 44;
// RRIP 4.1.6: three seven-byte dates.
constexpr std::uint32_t kTimesFieldBytes = 5 + 3 * kDirectoryDateBytes;
// NM and SL: the length byte bounds a field, the flags byte follows the head.
constexpr std::uint32_t kMaxNameChunk = kMaxFieldBytes - kFieldHeadBytes - 1;
constexpr std::uint32_t kMaxLinkComponentsBytes = kMaxFieldBytes - kFieldHeadBytes - 1;
constexpr std::uint32_t kComponentHeadBytes = 2;
static_assert(kContinuationFieldBytes + kMaxFieldBytes <= kSectorSize, "a continuation area holds any one field");

// RRIP 4.1.7 "RR": which fields the record carries.
constexpr std::uint8_t kHasAttributes = 0x01;
constexpr std::uint8_t kHasLink = 0x04;
constexpr std::uint8_t kHasName = 0x08;
constexpr std::uint8_t kHasTimes = 0x80;
// RRIP 4.1.6 "TF": modification, access and attribute change.
constexpr std::uint8_t kTimesRecorded = 0x02 | 0x04 | 0x08;
// NM, SL and SL components: the text goes on in the next one.
constexpr std::uint8_t kContinues = 0x01;
constexpr std::uint8_t kComponentCurrent = 0x02;
constexpr std::uint8_t kComponentParent = 0x04;
constexpr std::uint8_t kComponentRoot = 0x08;

constexpr std::string_view kExtensionId = "IEEE_P1282";
constexpr std::string_view kExtensionDescriptor =
    "THE IEEE P1282 PROTOCOL PROVIDES SUPPORT FOR POSIX FILE SYSTEM SEMANTICS.";
constexpr std::string_view kExtensionSource =
    "PLEASE CONTACT THE IEEE STANDARDS DEPARTMENT, PISCATAWAY, NJ, USA FOR THE P1282 SPECIFICATION.";

constexpr std::uint32_t kReadableByAll = 0444;
constexpr std::uint32_t kExecutableByAll = 0111;
constexpr std::uint32_t kPermissionBits = 07777;
constexpr std::uint32_t kRootSerialNumber = 1;

// The fields of one record as they are built: their bytes one after the
// other, and where each ends.
struct TFieldList {
  std::vector<std::uint8_t>& bytes;
  std::vector<std::uint32_t>& ends;

  // A writer over a new field of `length` bytes, its head written.
  TByteWriter Add(std::string_view signature, std::uint32_t length) {
    const std::size_t start = bytes.size();
    bytes.resize(start + length);
    ends.push_back(static_cast<std::uint32_t>(bytes.size()));
    TByteWriter out(std::span<std::uint8_t>(bytes).subspan(start, length));
    out.put_text(signature);
    out.put_u8(static_cast<std::uint8_t>(length));
    out.put_u8(kFieldVersion);
    return out;
  }
};

// A seven-byte date of a POSIX time, in Greenwich time.
void PutPosixDate(TByteWriter& out, const TPosixTime& time) {
  PutGreenwichDirectoryDate(out, CalendarOfFileTime(FileTimeFromUnix(time.Seconds, 0)));
}

bool IsLink(const TPosixAttributes* posix) {
  return posix != nullptr && (posix->Mode & kPosixTypeMask) == kPosixLink && !posix->Names.get().LinkTarget.empty();
}

void AddIndicator(TFieldList& fields) {
  TByteWriter out = fields.Add("SP", kIndicatorFieldBytes);
  out.put_u8(0xBE);
  out.put_u8(0xEF);
  out.put_u8(0);
}

void AddExtensionReference(TFieldList& fields) {
  const auto length = static_cast<std::uint32_t>(8 + kExtensionId.size() + kExtensionDescriptor.size() +
                                                 kExtensionSource.size());
  static_assert(8 + kExtensionId.size() + kExtensionDescriptor.size() + kExtensionSource.size() <= kMaxFieldBytes);
  TByteWriter out = fields.Add("ER", length);
  out.put_u8(static_cast<std::uint8_t>(kExtensionId.size()));
  out.put_u8(static_cast<std::uint8_t>(kExtensionDescriptor.size()));
  out.put_u8(static_cast<std::uint8_t>(kExtensionSource.size()));
  out.put_u8(1);
  out.put_text(kExtensionId);
  out.put_text(kExtensionDescriptor);
  out.put_text(kExtensionSource);
}

void AddName(TFieldList& fields, std::string_view name) {
  do {
    const std::size_t chunk = std::min<std::size_t>(name.size(), kMaxNameChunk);
    TByteWriter out = fields.Add("NM", static_cast<std::uint32_t>(kFieldHeadBytes + 1 + chunk));
    out.put_u8(chunk < name.size() ? kContinues : 0);
    out.put_text(name.substr(0, chunk));
    name.remove_prefix(chunk);
  } while (!name.empty());
}

// SL fields of a link target: its components, each field at most 255 bytes;
// a component longer than a field holds is split with its continue flag.
class TLinkFields {
 public:
  explicit TLinkFields(TFieldList& fields) : fields_(fields) {}

  void Add(std::string_view target) {
    if (!target.empty() && target.front() == '/') AddComponent(kComponentRoot, {});
    while (!target.empty()) {
      const std::size_t slash = target.find('/');
      const std::string_view component = target.substr(0, slash);
      target = slash == std::string_view::npos ? std::string_view() : target.substr(slash + 1);
      if (component.empty()) continue;
      if (component == ".") {
        AddComponent(kComponentCurrent, {});
      } else if (component == "..") {
        AddComponent(kComponentParent, {});
      } else {
        AddComponent(0, component);
      }
    }
    Flush(false);
  }

 private:
  void AddComponent(std::uint8_t flags, std::string_view text) {
    if (body_.size() + kComponentHeadBytes + text.size() > kMaxLinkComponentsBytes && !body_.empty()) Flush(true);
    do {
      if (body_.size() + kComponentHeadBytes >= kMaxLinkComponentsBytes) Flush(true);
      const std::size_t chunk = std::min(text.size(), kMaxLinkComponentsBytes - kComponentHeadBytes - body_.size());
      body_.push_back(static_cast<char>(flags | (chunk < text.size() ? kContinues : 0)));
      body_.push_back(static_cast<char>(chunk));
      body_.append(text.substr(0, chunk));
      text.remove_prefix(chunk);
    } while (!text.empty());
  }

  void Flush(bool continues) {
    TByteWriter out = fields_.Add("SL", static_cast<std::uint32_t>(kFieldHeadBytes + 1 + body_.size()));
    out.put_u8(continues ? kContinues : 0);
    out.put_text(body_);
    body_.clear();
  }

  TFieldList& fields_;
  std::string body_;
};

}  // namespace

// What one record describes.
struct TSystemUse::TSubject {
  const TPosixAttributes* Posix = nullptr;  // null: nothing known
  bool Directory = false;
  const TSystemTime* Date = nullptr;        // the record's own date, for times not known
  std::uint32_t Links = 1;
  std::uint32_t SerialNumber = 0;
  std::string_view Name;                    // empty for "." and ".."
  bool VolumeFields = false;                // SP and ER of the root's "." record
};

namespace {

std::uint32_t RecordedMode(const TCDFiles& cd, const TPosixAttributes* posix, bool directory) {
  const std::uint32_t type = directory ? kPosixDirectory : IsLink(posix) ? kPosixLink : kPosixRegular;
  if (type == kPosixLink && cd.RockRidgePublic) return type | 0777;
  const bool executable = directory || (posix != nullptr && (posix->Mode & kExecutableByAll) != 0);
  if (posix == nullptr || cd.RockRidgePublic) return type | kReadableByAll | (executable ? kExecutableByAll : 0);
  return type | (posix->Mode & kPermissionBits);
}

void AddAttributes(TFieldList& fields, const TCDFiles& cd, const TPosixAttributes* posix, bool directory,
                   std::uint32_t links, std::uint32_t serialNumber) {
  const bool owners = posix != nullptr && !cd.RockRidgePublic;
  TByteWriter out = fields.Add("PX", kAttributesFieldBytes);
  out.put_both32(RecordedMode(cd, posix, directory));
  out.put_both32(links);
  out.put_both32(owners ? posix->Uid : 0);
  out.put_both32(owners ? posix->Gid : 0);
  out.put_both32(serialNumber);
}

void AddTimes(TFieldList& fields, const TPosixAttributes* posix, const TSystemTime& date) {
  TByteWriter out = fields.Add("TF", kTimesFieldBytes);
  out.put_u8(kTimesRecorded);
  if (posix == nullptr) {
    for (int i = 0; i < 3; ++i) PutDirectoryDate(out, date);
    return;
  }
  PutPosixDate(out, posix->Modify);
  PutPosixDate(out, posix->Access);
  PutPosixDate(out, posix->Change);
}

}  // namespace

TSystemUse::TSystemUse(const TCDFiles& cd, const TDirEntry& dir, TStaging contents)
    : cd_(cd), dir_(dir), contents_(contents) {}

std::uint32_t TSystemUse::StageDirectory(const TDirEntry& dir, bool withVolumeFields, std::uint32_t room) {
  TSubject subject;
  subject.Posix = dir.OwnEntry != nullptr ? dir.OwnEntry->Posix.get() : cd_.RootPosix.get();
  subject.Directory = true;
  subject.Date = dir.OwnEntry != nullptr ? &dir.OwnEntry->Time : &cd_.VolumeTime;
  subject.Links = 2 + dir.Subdirectories;
  subject.SerialNumber = dir.OwnEntry != nullptr ? static_cast<std::uint32_t>(dir.OwnEntry->FileId) + 2 : kRootSerialNumber;
  subject.VolumeFields = withVolumeFields;
  return Stage(subject, room);
}

std::uint32_t TSystemUse::StageSelf(std::uint32_t room) {
  return StageDirectory(dir_, dir_.Parent == &dir_, room);
}

std::uint32_t TSystemUse::StageParent(std::uint32_t room) { return StageDirectory(*dir_.Parent, false, room); }

std::uint32_t TSystemUse::StageEntry(const TFileEntry& entry, std::uint32_t room) {
  TSubject subject;
  subject.Posix = entry.Posix.get();
  subject.Directory = entry.DirRecord != nullptr;
  subject.Date = &entry.Time;
  subject.Links = entry.DirRecord != nullptr ? 2 + entry.DirRecord->Subdirectories : 1;
  subject.SerialNumber = static_cast<std::uint32_t>(entry.FileId) + 2;
  std::string name;
  if (subject.Posix != nullptr && !subject.Posix->Names.get().Name.empty()) {
    subject.Name = subject.Posix->Names.get().Name;
  } else {
    name = Utf16ToUtf8(entry.LongName);
    subject.Name = name;
  }
  return Stage(subject, room);
}

std::uint32_t TSystemUse::Stage(const TSubject& subject, std::uint32_t room) {
  bytes_.clear();
  fieldEnds_.clear();
  TFieldList fields{bytes_, fieldEnds_};
  const bool link = !subject.Directory && IsLink(subject.Posix);
  if (subject.VolumeFields) AddIndicator(fields);
  TByteWriter summary = fields.Add("RR", kFieldHeadBytes + 1);
  summary.put_u8(static_cast<std::uint8_t>(kHasAttributes | kHasTimes | (subject.Name.empty() ? 0 : kHasName) |
                                           (link ? kHasLink : 0)));
  if (!subject.Name.empty()) AddName(fields, subject.Name);
  if (contents_ == TStaging::SizesOnly) {
    (void)fields.Add("PX", kAttributesFieldBytes);
    (void)fields.Add("TF", kTimesFieldBytes);
  } else {
    AddAttributes(fields, cd_, subject.Posix, subject.Directory, subject.Links, subject.SerialNumber);
    AddTimes(fields, subject.Posix, *subject.Date);
  }
  if (link) {
    TLinkFields linkFields(fields);
    linkFields.Add(subject.Posix->Names.get().LinkTarget);
  }
  if (subject.VolumeFields) AddExtensionReference(fields);
  return Split(room);
}

std::uint32_t TSystemUse::FieldBytes(std::size_t first, std::size_t end) const {
  const std::uint32_t from = first == 0 ? 0 : fieldEnds_[first - 1];
  const std::uint32_t to = end == 0 ? 0 : fieldEnds_[end - 1];
  return to - from;
}

// The record takes what fits, then each continuation area what fits of the
// rest; every piece that does not hold the last field ends in a CE.
std::uint32_t TSystemUse::Split(std::uint32_t room) {
  pieces_.clear();
  const std::size_t count = fieldEnds_.size();
  std::size_t first = 0;
  std::uint32_t capacity = room;
  for (;;) {
    TPiece piece{first, count, FieldBytes(first, count), 0};
    if (piece.Bytes > capacity) {
      std::size_t end = first;
      while (end < count && FieldBytes(first, end + 1) + kContinuationFieldBytes <= capacity) ++end;
      piece = {first, end, FieldBytes(first, end) + kContinuationFieldBytes, 0};
      if (piece.Bytes > capacity) {
        fieldsLost_ = true;
        piece = {first, end, FieldBytes(first, end), 0};
        if (!pieces_.empty()) piece.Offset = PlaceContinuation(piece.Bytes);
        pieces_.push_back(piece);
        break;
      }
    }
    if (!pieces_.empty()) piece.Offset = PlaceContinuation(piece.Bytes);
    pieces_.push_back(piece);
    if (piece.EndField == count) break;
    first = piece.EndField;
    capacity = kSectorSize;
  }
  const std::uint32_t inRecord = pieces_.front().Bytes;
  return inRecord + inRecord % 2;
}

std::uint32_t TSystemUse::PlaceContinuation(std::uint32_t bytes) {
  if (continuationSectors_ == 0 || bytes > kSectorSize - continuationUsed_) {
    ++continuationSectors_;
    continuationUsed_ = 0;
  }
  const std::uint32_t offset = (continuationSectors_ - 1) * kSectorSize + continuationUsed_;
  continuationUsed_ += bytes;
  return offset;
}

void TSystemUse::PutPiece(TByteWriter& out, std::size_t index, std::uint32_t firstContinuationSector) const {
  const TPiece& piece = pieces_[index];
  const std::uint32_t from = piece.FirstField == 0 ? 0 : fieldEnds_[piece.FirstField - 1];
  out.put_bytes(std::span<const std::uint8_t>(bytes_).subspan(from, FieldBytes(piece.FirstField, piece.EndField)));
  if (index + 1 >= pieces_.size()) return;
  const TPiece& next = pieces_[index + 1];
  TByteWriter ce = out.take(kContinuationFieldBytes);
  ce.put_text("CE");
  ce.put_u8(static_cast<std::uint8_t>(kContinuationFieldBytes));
  ce.put_u8(kFieldVersion);
  ce.put_both32(firstContinuationSector + next.Offset / kSectorSize);
  ce.put_both32(next.Offset % kSectorSize);
  ce.put_both32(next.Bytes);
}

void TSystemUse::Put(TByteWriter& record, TByteWriter& continuation, std::uint32_t firstContinuationSector) const {
  PutPiece(record, 0, firstContinuationSector);
  if (pieces_.front().Bytes % 2 != 0) record.put_u8(0);
  for (std::size_t i = 1; i < pieces_.size(); ++i) {
    continuation.seek(pieces_[i].Offset);
    PutPiece(continuation, i, firstContinuationSector);
  }
}

}  // namespace kilnor
