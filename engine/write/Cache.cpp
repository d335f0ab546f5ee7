#include "engine/write/Cache.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"
#include "engine/write/ErrorTexts.h"
#include "engine/platform/FileIO.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kilnor {
namespace {

// Abort requests raise a flag nobody signals, so every wait wakes this often
// to look at it.
constexpr auto kAbortPoll = std::chrono::milliseconds(20);
// Largest single read into the cache. Pieces of this size are still in the
// processor's cache when the writer copies them out again; much larger reads
// cost twice the copying time.
constexpr std::size_t kMaxReadBytes = std::size_t{256} << 10;
// Files from this size on are read with a larger read-ahead.
constexpr std::uint64_t kLargeFileBytes = std::uint64_t{4} << 20;
// Data handlers are asked for at most one packet at a time.
constexpr std::size_t kMaxHandlerBytes = kPacketBytes;

constexpr char kChangedSize[] = "the file changed size while being read";

#ifdef _WIN32
void ApplyPriority(TCachePriority priority) {
  static constexpr int kLevels[] = {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_NORMAL,
                                    THREAD_PRIORITY_HIGHEST};
  SetThreadPriority(GetCurrentThread(), kLevels[static_cast<int>(priority)]);
}
#else
// An unprivileged thread that lowers its priority here can never raise it
// again, which would starve the reader later in the write; the cache's bounded
// read-ahead does the throttling instead.
void ApplyPriority(TCachePriority) {}
#endif

}  // namespace

std::uint32_t MaxPacketsFor(std::uint32_t CacheSize) {
  return std::clamp<std::uint32_t>(CacheSize / kPacketBytes, 2, kMaxQueuedPackets);
}

// ---- TPacketCache -----------------------------------------------------------

TPacketCache::TPacketCache(std::uint32_t MaxPackets, const std::atomic<bool>& Aborted)
    : maxPackets_(std::clamp<std::uint32_t>(MaxPackets, 2, kMaxQueuedPackets)),
      slots_(maxPackets_),
      aborted_(Aborted),
      arena_(new std::uint8_t[std::size_t{slots_} * kPacketBytes]),
      fileIds_(slots_, -1) {}

bool TPacketCache::StoppedLocked() {
  if (aborted_ && (end_ == TCacheEnd::Running || end_ == TCacheEnd::Done)) EndLocked(TCacheEnd::Aborted);
  return end_ != TCacheEnd::Running;
}

void TPacketCache::EndLocked(TCacheEnd End) {
  const bool mayOverride = end_ == TCacheEnd::Running || (end_ == TCacheEnd::Done && End != TCacheEnd::Done);
  if (mayOverride) end_ = End;
  changed_.notify_all();
}

std::span<std::uint8_t> TPacketCache::WaitForRoom(std::size_t MaxBytes) {
  std::unique_lock lock(lock_);
  for (;;) {
    if (StoppedLocked()) return {};
    const std::uint64_t limit = (released_ + slots_) * kPacketBytes;
    if (produced_ < limit) {
      const std::uint64_t offset = produced_ % (std::uint64_t{slots_} * kPacketBytes);
      const std::uint64_t toWrap = std::uint64_t{slots_} * kPacketBytes - offset;
      const std::size_t bytes = std::min<std::uint64_t>({limit - produced_, toWrap, MaxBytes});
      return {arena_.get() + offset, bytes};
    }
    if (!canStart_) {
      canStart_ = true;
      changed_.notify_all();
    }
    producerWaiting_ = true;
    changed_.wait_for(lock, kAbortPoll);
    producerWaiting_ = false;
  }
}

void TPacketCache::Commit(std::size_t Bytes, std::int32_t FileId) {
  std::lock_guard lock(lock_);
  const std::uint64_t before = produced_ / kPacketBytes;
  produced_ += Bytes;
  const std::uint64_t after = produced_ / kPacketBytes;
  for (std::uint64_t k = before; k < after; ++k) fileIds_[k % slots_] = FileId;
  if (consumerWaitsFor_ != 0 && after >= consumerWaitsFor_) changed_.notify_all();
}

void TPacketCache::EndStream(TCacheEnd End) {
  std::lock_guard lock(lock_);
  if (End == TCacheEnd::Done && produced_ % kPacketBytes != 0) End = TCacheEnd::ProducerFailed;
  canStart_ = true;
  EndLocked(End);
}

TPackets TPacketCache::TakePackets(std::uint32_t MaxCount) {
  // The writer is woken only when a whole take is queued: each wake-up then
  // pays for MaxCount packets.
  const std::uint64_t batch = std::clamp<std::uint32_t>(MaxCount, 1, maxPackets_);
  std::unique_lock lock(lock_);
  for (;;) {
    const std::uint64_t queued = produced_ / kPacketBytes;
    // A finished stream is drained; any other end stops the writer at once.
    if (StoppedLocked() && end_ != TCacheEnd::Done) return {};
    const std::uint64_t slot = taken_ % slots_;
    const std::uint64_t contiguous = std::min<std::uint64_t>(queued - taken_, slots_ - slot);
    if (contiguous >= batch || (contiguous > 0 && (end_ == TCacheEnd::Done || slot + contiguous == slots_))) {
      const std::uint64_t count = std::min<std::uint64_t>(contiguous, MaxCount);
      TPackets packets;
      packets.Data = arena_.get() + slot * kPacketBytes;
      packets.Size = count * kPacketBytes;
      packets.Count = static_cast<std::uint32_t>(count);
      packets.FileId = fileIds_[(slot + count - 1) % slots_];
      taken_ += count;
      return packets;
    }
    if (end_ == TCacheEnd::Done) return {};
    consumerWaitsFor_ = taken_ + batch;
    changed_.wait_for(lock, kAbortPoll);
    consumerWaitsFor_ = 0;
  }
}

void TPacketCache::ReleasePackets() {
  std::lock_guard lock(lock_);
  released_ = taken_;
  if (producerWaiting_) changed_.notify_all();
}

void TPacketCache::LeaveConsumer() {
  std::lock_guard lock(lock_);
  EndLocked(TCacheEnd::ConsumerGone);
}

bool TPacketCache::WaitUntilCanStart() {
  std::unique_lock lock(lock_);
  for (;;) {
    if (StoppedLocked()) return end_ == TCacheEnd::Done;
    if (canStart_) return true;
    changed_.wait_for(lock, kAbortPoll);
  }
}

TCacheEnd TPacketCache::End() const {
  std::lock_guard lock(lock_);
  return end_;
}

std::int32_t TPacketCache::PacketCount() const {
  std::lock_guard lock(lock_);
  return static_cast<std::int32_t>(produced_ / kPacketBytes - taken_);
}

std::uint64_t TPacketCache::BytesAvailable() const {
  std::lock_guard lock(lock_);
  return produced_ - taken_ * kPacketBytes;
}

TCachePriority TPacketCache::Priority() const {
  const double queued = PacketCount();
  if (queued >= maxPackets_) return TCachePriority::Idle;
  if (queued < maxPackets_ / 4.0) return TCachePriority::Highest;
  if (queued < maxPackets_ / 2.0) return TCachePriority::Normal;
  return TCachePriority::Lowest;
}

// ---- TCacheThread --------------------------------------------------------------

TCacheThread::TCacheThread(TCDFiles& CDFiles, TStreamPlan Plan, std::uint32_t MaxPackets)
    : cdFiles_(CDFiles),
      plan_(std::move(Plan)),
      cache_(MaxPackets, CDFiles.Aborted),
      thread_([this] { Execute(); }) {}

TCacheThread::~TCacheThread() { Join(); }

void TCacheThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TCacheThread::Execute() {
  cdFiles_.VerifySize = 0;
  if (!StreamPlanIsConsistent(plan_)) {
    RecordError(cdFiles_, erNotPrepared);
    cache_.EndStream(TCacheEnd::ProducerFailed);
    return;
  }
  for (TStreamItem& item : plan_.Items) {
    if (!StreamItem(item)) return;
  }
  if (!StreamPadding()) return;
  cache_.EndStream(TCacheEnd::Done);
}

bool TCacheThread::StreamItem(TStreamItem& Item) {
  switch (Item.Source) {
    case TStreamItem::TSource::Bytes: return StreamBytes(Item);
    case TStreamItem::TSource::File: return StreamFile(Item);
    case TStreamItem::TSource::Generator: return StreamGenerated(Item);
    case TStreamItem::TSource::CompilationFiles: return StreamCompilationFiles(Item);
  }
  return false;
}

std::span<std::uint8_t> TCacheThread::Room(std::uint64_t Remaining) {
  ApplyPriority(cache_.Priority());
  const auto room = cache_.WaitForRoom(std::min<std::uint64_t>(RoundUpToSector(Remaining), kMaxReadBytes));
  cdFiles_.PacketCount = cache_.PacketCount();
  return room;
}

// Queues ItemBytes of Room, zeroing the tail of the last sector so that no
// stale data of an earlier packet reaches the disc.
void TCacheThread::CommitItemBytes(std::span<std::uint8_t> Room, std::uint64_t ItemBytes, std::int32_t FileId) {
  const std::uint64_t padded = RoundUpToSector(ItemBytes);
  std::memset(Room.data() + ItemBytes, 0, padded - ItemBytes);
  cache_.Commit(padded, FileId);
  streamed_ += padded;
  cdFiles_.PacketCount = cache_.PacketCount();
}

bool TCacheThread::FailOn(std::u16string_view Name, std::string_view Cause) {
  if (Name.empty()) {
    RecordError(cdFiles_, erNotPrepared);
  } else {
    RecordFileError(cdFiles_, erFileOpen, Name, Cause);
  }
  cache_.EndStream(TCacheEnd::ProducerFailed);
  return false;
}

bool TCacheThread::FailOnLayout() { return FailOn({}); }

bool TCacheThread::StreamBytes(TStreamItem& Item) {
  if (Item.Bytes.size() < Item.Size) return FailOn(Item.Name);
  std::uint64_t done = 0;
  while (done < Item.Size) {
    const auto room = Room(Item.Size - done);
    if (room.empty()) return false;
    const std::uint64_t n = std::min<std::uint64_t>(room.size(), Item.Size - done);
    std::memcpy(room.data(), Item.Bytes.data() + done, n);
    CommitItemBytes(room, n, Item.FileId);
    done += n;
  }
  std::vector<std::uint8_t>().swap(Item.Bytes);
  return true;
}

bool TCacheThread::StreamFile(const TStreamItem& Item) {
  switch (StreamSourceFile(Item.Path, Item.Size, Item.FileId)) {
    case TSourceRead::Done: return true;
    case TSourceRead::Stopped: return false;
    case TSourceRead::Failed: break;
  }
  return FailOn(Item.Name, readFailure_);
}

// Each entry with new data at the sector the layout gave it, one after the
// other: an entry out of place means the layout is not the one streamed.
bool TCacheThread::StreamCompilationFiles(const TStreamItem& Item) {
  const std::uint64_t end = Item.Sector + SectorsOf(Item.Size);
  std::uint64_t sector = Item.Sector;
  for (std::size_t i = 0; i < cdFiles_.Files.size(); ++i) {
    TFileEntry& entry = *cdFiles_.Files[i];
    if (!HasNewData(entry)) {
      // No sectors, but one that grew since Prepare must not be recorded empty.
      if (IsEmptySourceFile(entry) && !StreamEntry(entry, static_cast<std::int32_t>(i))) return false;
      continue;
    }
    const std::uint64_t sectors = SectorsOf(static_cast<std::uint64_t>(entry.FileSize));
    if (std::uint64_t{cdFiles_.FirstDataSector} + entry.Address != sector || sector + sectors > end) {
      return FailOnLayout();
    }
    if (!StreamEntry(entry, static_cast<std::int32_t>(i))) return false;
    sector += sectors;
  }
  return sector == end || FailOnLayout();
}

// An error names the entry's source file, or a memory file's name.
bool TCacheThread::StreamEntry(TFileEntry& Entry, std::int32_t FileId) {
  const bool memory = static_cast<bool>(Entry.Extras.get().mfcbFunction);
  const std::u16string source = memory ? std::u16string() : SourcePath(Entry);
  const TSourceRead read = memory ? StreamDataHandler(Entry, FileId)
                                  : StreamSourceFile(Utf16ToUtf8(source), static_cast<std::uint64_t>(Entry.FileSize), FileId);
  switch (read) {
    case TSourceRead::Done: return true;
    case TSourceRead::Stopped: return false;
    case TSourceRead::Failed: break;
  }
  return FailOn(memory || source.empty() ? std::u16string_view(Entry.LongName) : std::u16string_view(source),
                readFailure_);
}

// The file must read exactly the size laid out for it: a file that changed
// since Prepare would otherwise be cut or padded silently. Each read asks for
// one byte more than is left, so the read that ends the file also shows
// whether it grew, and a small file costs one read.
TSourceRead TCacheThread::StreamSourceFile(const std::string& Path, std::uint64_t Size, std::int32_t FileId) {
  cdFiles_.ReadingFile = FileId;
  cdFiles_.VerifySize += static_cast<std::uint32_t>(SectorsOf(Size));
  const auto fail = [this](std::string cause) {
    readFailure_ = std::move(cause);
    return TSourceRead::Failed;
  };
  TFile file = sources_.Open(Path);
  if (!file.IsOpen()) return fail(file.FailureCause());
  if (Size >= kLargeFileBytes) file.AdviseSequential();
  std::uint64_t remaining = Size;
  for (;;) {
    const auto room = Room(remaining + 1);
    if (room.empty()) return TSourceRead::Stopped;
    const std::uint64_t asked = std::min<std::uint64_t>(room.size(), remaining + 1);
    const std::int64_t got = file.ReadOnce(room.data(), asked);
    if (got < 0) return fail(file.FailureCause());
    if (static_cast<std::uint64_t>(got) > remaining) return fail(kChangedSize);
    if (got > 0) CommitItemBytes(room, static_cast<std::uint64_t>(got), FileId);
    remaining -= static_cast<std::uint64_t>(got);
    // A short read is the file's end.
    if (static_cast<std::uint64_t>(got) < asked) return remaining == 0 ? TSourceRead::Done : fail(kChangedSize);
  }
}

TSourceRead TCacheThread::StreamDataHandler(TFileEntry& Entry, std::int32_t FileId) {
  const auto size = static_cast<std::uint64_t>(Entry.FileSize);
  cdFiles_.ReadingFile = FileId;
  cdFiles_.VerifySize += static_cast<std::uint32_t>(SectorsOf(size));
  readFailure_.clear();
  if (size >= kMaxMemoryFileBytes) return TSourceRead::Failed;
  const TGetDataEvent& handler = Entry.Extras.get().mfcbFunction;
  std::uint64_t done = 0;
  while (done < size) {
    const auto room = Room(std::min<std::uint64_t>(size - done, kMaxHandlerBytes));
    if (room.empty()) return TSourceRead::Stopped;
    const std::uint64_t wanted = std::min<std::uint64_t>(room.size(), RoundUpToSector(size - done));
    const std::uint64_t needed = std::min(wanted, size - done);
    std::uint32_t delivered = static_cast<std::uint32_t>(wanted);
    handler(this, &Entry, static_cast<std::uint32_t>(done), room.data(), delivered);
    if (delivered < needed) return TSourceRead::Failed;
    CommitItemBytes(room, needed, FileId);
    done += needed;
  }
  return TSourceRead::Done;
}

bool TCacheThread::StreamGenerated(TStreamItem& Item) {
  std::uint64_t remaining = SectorsOf(Item.Size) * kStreamSectorBytes;
  while (remaining > 0) {
    const auto room = Room(remaining);
    if (room.empty()) return false;
    const std::uint64_t n = std::min<std::uint64_t>(room.size(), remaining);
    if (!Item.Generate || !Item.Generate(room.data(), static_cast<std::uint32_t>(n / kStreamSectorBytes))) {
      return FailOn(Item.Name);
    }
    CommitItemBytes(room, n, Item.FileId);
    remaining -= n;
  }
  return true;
}

// Zero sectors up to the end of the session; the closing structure goes into
// the last sector before the final packet is queued.
bool TCacheThread::StreamPadding() {
  const std::uint64_t total = plan_.TotalSectors * kStreamSectorBytes;
  while (streamed_ < total) {
    const auto room = Room(total - streamed_);
    if (room.empty()) return false;
    std::memset(room.data(), 0, room.size());
    const bool last = streamed_ + room.size() == total;
    if (last && plan_.FinishLastSector) plan_.FinishLastSector(room.data() + room.size() - kStreamSectorBytes);
    CommitItemBytes(room, room.size(), -1);
  }
  return true;
}

}  // namespace kilnor
