#include "engine/write/Verify.h"

#include <algorithm>
#include <future>
#include <optional>
#include <span>
#include <system_error>

#include "engine/device/Commands.h"
#include "engine/device/SenseTexts.h"
#include "engine/device/Speeds.h"
#include "engine/events/Completions.h"
#include "engine/image/Hash.h"
#include "engine/image/SourceDigest.h"
#include "engine/image/Tree.h"
#include "engine/platform/FileSearch.h"
#include "engine/platform/LocalTime.h"
#include "engine/write/ErrorTexts.h"
#include "engine/write/PacketWrite.h"

namespace kilnor {

namespace {

// Sources are read in large pieces; one this large or more is hashed on a
// thread of its own while the disc's copy is read back.
constexpr std::size_t kSourcePieceBytes = std::size_t{1} << 20;
constexpr std::uint64_t kHashAlongsideBytes = kSourcePieceBytes;
constexpr std::int64_t kTicksPerMillisecond = kFileTimeTicksPerSecond / 1000;

std::uint64_t SectorsOf(std::uint64_t Bytes) { return (Bytes + kSectorBytes - 1) / kSectorBytes; }

struct TDiscDigest {
  TDigestOutcome Outcome = TDigestOutcome::Unreadable;
  std::string Digest;
  std::string Cause;  // where and why the drive could not read
};

std::uint32_t SectorsOfCopy(const TVerifyItem& Item) { return static_cast<std::uint32_t>(SectorsOf(Item.DiscBytes)); }

bool HasDataOfItsOwn(const TFileEntry& Entry) {
  return Entry.DirRecord == nullptr && !Entry.Imported && HasSourcePath(Entry) && !Entry.Extras.get().mfcbFunction &&
         Entry.ReferenceEntry == nullptr && Entry.FileSize >= 0;
}

// Whether the source was written to after the time it had when recorded,
// compared to the recorded time's precision (a disc's own records keep whole
// seconds).
bool WrittenSinceRecorded(const TVerifyItem& Item) {
  TFileSearch search;
  TWin32FindDataW found;
  if (!search.FindItem(SourcePath(*Item.Source), found)) return false;
  const std::int64_t precision =
      Item.RecordedTime.wMilliseconds == 0 ? kFileTimeTicksPerSecond : kTicksPerMillisecond;
  TFileTime now = FileTimeOfCalendar(LocalCalendarOfFileTime(found.ftLastWriteTime));
  now -= now % static_cast<TFileTime>(precision);
  return now > FileTimeOfCalendar(Item.RecordedTime);
}

TVerifyFinding Finding(const TVerifyItem& Item, TVerifyOutcome Outcome, std::string Message = {}) {
  return {Item.FileId, Outcome, std::move(Message)};
}

// A difference the digests or sizes show: the source's side when it was
// written to since it was recorded, else the disc's.
TVerifyFinding Difference(const TVerifyItem& Item, const std::string& What) {
  if (WrittenSinceRecorded(Item))
    return Finding(Item, TVerifyOutcome::SourceChanged,
                   "the source was changed after it was recorded (" + What + "); the disc holds the earlier content");
  return Finding(Item, TVerifyOutcome::DiscDiffers, "the disc's copy differs from the source (" + What + ")");
}

std::string DriveFailure(const TSCSIDevice& Device, std::uint32_t Sector) {
  const std::uint16_t code = Device.DeviceError;
  return "the drive could not read sector " + std::to_string(Sector) + " of the disc's copy: " +
         SenseDescription(Device.DeviceErrorKey, static_cast<std::uint8_t>(code >> 8),
                          static_cast<std::uint8_t>(code));
}

TVerifyFinding Judge(const TVerifyItem& Item, const TSourceDigest& Source, const TDiscDigest& Disc) {
  if (Source.Outcome == TDigestOutcome::Aborted || Disc.Outcome == TDigestOutcome::Aborted)
    return Finding(Item, TVerifyOutcome::Aborted, "the verify was aborted before the file was checked in full");
  if (Source.Outcome == TDigestOutcome::Unreadable)
    return Finding(Item, TVerifyOutcome::SourceUnreadable,
                   "the source cannot be read" + (Source.Cause.empty() ? "" : " (" + Source.Cause + ")"));
  if (Source.Outcome == TDigestOutcome::SizeChanged)
    return Finding(Item, TVerifyOutcome::SourceChanged,
                   "the source was changed after it was recorded (" + Source.Cause + ")");
  if (Disc.Outcome != TDigestOutcome::Complete) return Finding(Item, TVerifyOutcome::DiscUnreadable, Disc.Cause);
  Item.Source->Extras.edit().Hash = Source.Digest;
  if (Disc.Digest == Source.Digest) return Finding(Item, TVerifyOutcome::Match);
  return Difference(Item, "MD5 " + Disc.Digest + " on the disc, " + Source.Digest + " from the source");
}

// Reads the copy back a packet at a time and hashes exactly its bytes; a
// failed read counts the rest of the file as done.
TDiscDigest DigestOfCopy(TCDFiles& CDFiles, TSCSIDevice& Device, const TVerifyItem& Item,
                        std::span<std::uint8_t> Buffer) {
  TMD5Stream md5;
  std::uint32_t sector = Item.Sector;
  std::uint64_t remaining = Item.DiscBytes;
  while (remaining > 0) {
    if (CDFiles.Aborted) return {TDigestOutcome::Aborted, {}, {}};
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kPacketBytes));
    const auto blocks = static_cast<std::uint16_t>(SectorsOf(chunk));
    if (!ReadPacket(CDFiles, Device, sector, blocks, Buffer)) {
      if (CDFiles.Aborted) return {TDigestOutcome::Aborted, {}, {}};
      CDFiles.VerifyProgress += static_cast<std::uint32_t>(SectorsOf(remaining));
      return {TDigestOutcome::Unreadable, {}, DriveFailure(Device, sector)};
    }
    md5.Write(Buffer.data(), chunk);
    CDFiles.VerifyProgress += blocks;
    sector += blocks;
    remaining -= chunk;
  }
  return {TDigestOutcome::Complete, md5.DigestString(), {}};
}

}  // namespace

std::vector<TVerifyItem> SessionVerifyItems(const TCDFiles& CDFiles) {
  std::vector<TVerifyItem> items;
  for (std::size_t i = 0; i < CDFiles.Files.size(); ++i) {
    const TFileEntry& entry = *CDFiles.Files[i];
    if (!HasDataOfItsOwn(entry)) continue;
    TVerifyItem item;
    item.Source = CDFiles.Files[i].get();
    item.FileId = static_cast<std::int32_t>(i);
    item.Sector = CDFiles.FirstWritableSector + CDFiles.FirstDataSector + entry.Address;
    item.DiscBytes = static_cast<std::uint64_t>(entry.FileSize);
    item.RecordedTime = entry.Time;
    items.push_back(item);
  }
  return items;
}

void BeginVerify(TCDFiles& CDFiles, TSCSIDevice& Device, const std::vector<TVerifyItem>& Items,
                 TVerifyDoneEvent OnVerifyDone) {
  ClearError(CDFiles);
  CDFiles.Aborted = false;
  CDFiles.ComponentStatus = stVerifying;
  Device.DeviceError = 0;
  CDFiles.cbVerifyDone = std::move(OnVerifyDone);
  std::uint64_t sectors = 0;
  for (const TVerifyItem& item : Items) sectors += SectorsOfCopy(item);
  CDFiles.VerifySize = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, UINT32_MAX));
  CDFiles.VerifyProgress = 0;
  ResetSpeedMeters(Device);
}

TVerifyDiscThread::TVerifyDiscThread(TCDFiles& CDFiles, TSCSIDevice& Device, std::vector<TVerifyItem> Items,
                                     TVerifyReport& Report)
    : CDFiles(CDFiles), Device(Device), items_(std::move(Items)), report_(Report) {}

void TVerifyDiscThread::Execute() {
  discBuffer_.resize(kPacketBytes);
  sourceBuffer_.resize(kSourcePieceBytes);
  for (const TVerifyItem& item : items_) {
    if (CDFiles.Aborted) {
      report_.Aborted = true;
      break;
    }
    TVerifyFinding finding = Check(item);
    const bool failed = finding.Outcome != TVerifyOutcome::Match;
    report_.Aborted = finding.Outcome == TVerifyOutcome::Aborted;
    ++report_.Checked;
    if (failed) ++report_.Failed;
    report_.Findings.push_back(std::move(finding));
    if (failed || FireVerifyEventOnAllFiles)
      ReportVerifyDone(CDFiles.hWNDFE, CDFiles.cbVerifyDone, this, Device.SelectedDevice, item.FileId, failed);
    if (report_.Aborted) break;
    if (failed && StopOnMismatch) {
      report_.Stopped = true;
      break;
    }
  }
  if (report_.Aborted) RecordError(CDFiles, erAborted);
  CDFiles.ComponentStatus = stIdle;
  ReportVerifyDone(CDFiles.hWNDFE, CDFiles.cbVerifyDone, this, Device.SelectedDevice, kVerifySummary,
                   report_.Failed > 0 || report_.Aborted);
}

TVerifyFinding TVerifyDiscThread::Check(const TVerifyItem& Item) {
  const auto sourceBytes = static_cast<std::uint64_t>(Item.Source->FileSize);
  if (Item.DiscBytes != sourceBytes) {
    CDFiles.VerifyProgress += SectorsOfCopy(Item);
    return Difference(Item, "the disc's copy holds " + std::to_string(Item.DiscBytes) + " bytes, the source " +
                                std::to_string(sourceBytes));
  }
  // Empty files match without a command: "-" against "-".
  if (sourceBytes == 0) return Finding(Item, TVerifyOutcome::Match);
  std::future<TSourceDigest> pending;
  const std::optional<TSourceDigest> known = SourceDigestNowOrLater(*Item.Source, pending);
  // A source that cannot be hashed fails the file: its copy is not read.
  if (known && known->Outcome != TDigestOutcome::Complete) {
    CDFiles.VerifyProgress += SectorsOfCopy(Item);
    return Judge(Item, *known, {});
  }
  const TDiscDigest disc = DigestOfCopy(CDFiles, Device, Item, discBuffer_);
  return Judge(Item, known ? *known : pending.get(), disc);
}

std::optional<TSourceDigest> TVerifyDiscThread::SourceDigestNowOrLater(TFileEntry& Source,
                                                                       std::future<TSourceDigest>& Pending) {
  if (!Source.Extras.get().Hash.empty()) return TSourceDigest{TDigestOutcome::Complete, Source.Extras.get().Hash, {}};
  const auto digest = [this, &Source] { return DigestOfSource(Source, sourceBuffer_, CDFiles.Aborted, nullptr); };
  if (static_cast<std::uint64_t>(Source.FileSize) >= kHashAlongsideBytes) {
    try {
      Pending = std::async(std::launch::async, digest);
      return std::nullopt;
    } catch (const std::system_error&) {
      // No thread to spare: the source is hashed here, before its copy.
    }
  }
  return digest();
}

}  // namespace kilnor
