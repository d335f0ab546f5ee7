#include "engine/image/SourceDigest.h"

#include <algorithm>
#include <cstring>

#include "engine/image/Hash.h"
#include "engine/image/Tree.h"
#include "engine/platform/FileIO.h"
#include "engine/platform/Unicode.h"

namespace kilnor {

namespace {

constexpr std::uint32_t kSectorBytes = 2048;

std::uint32_t SectorsOf(std::uint64_t bytes) {
  return static_cast<std::uint32_t>((bytes + kSectorBytes - 1) / kSectorBytes);
}

TSourceDigest NoDigest(TDigestOutcome outcome, std::string cause) { return {outcome, {}, std::move(cause)}; }

// Hands each piece of Size bytes to Next(buffer, want) -> bytes delivered or
// -1, hashing as it goes.
template <class ReadPiece>
TSourceDigest DigestOfPieces(std::uint64_t size, std::span<std::uint8_t> buffer, const std::atomic<bool>& aborted,
                             const TDigestProgress& progress, ReadPiece next) {
  TMD5Stream md5;
  std::uint64_t done = 0;
  while (done < size) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done));
    const std::int64_t got = next(done, buffer.data(), want);
    if (got < 0) return NoDigest(TDigestOutcome::Unreadable, {});
    if (static_cast<std::uint64_t>(got) < want) return NoDigest(TDigestOutcome::SizeChanged, "the file is shorter than when it was added");
    md5.Write(buffer.data(), want);
    done += want;
    if (progress) progress(SectorsOf(want));
    if (aborted.load()) return NoDigest(TDigestOutcome::Aborted, {});
  }
  return {TDigestOutcome::Complete, md5.DigestString(), {}};
}

TSourceDigest DigestOfFile(const TFileEntry& entry, std::span<std::uint8_t> buffer, const std::atomic<bool>& aborted,
                           const TDigestProgress& progress) {
  TFile file = TFile::OpenForReading(Utf16ToUtf8(SourcePath(entry)));
  if (!file.IsOpen()) return NoDigest(TDigestOutcome::Unreadable, file.FailureCause());
  const auto size = static_cast<std::uint64_t>(entry.FileSize);
  if (size >= buffer.size()) file.AdviseSequential();
  TSourceDigest digest = DigestOfPieces(size, buffer, aborted, progress,
                                        [&](std::uint64_t, std::uint8_t* to, std::size_t want) {
                                          return file.ReadUpTo(to, want);
                                        });
  if (digest.Outcome == TDigestOutcome::Unreadable) digest.Cause = file.FailureCause();
  std::uint8_t probe = 0;
  if (digest.Outcome == TDigestOutcome::Complete && file.ReadUpTo(&probe, 1) != 0) {
    return NoDigest(TDigestOutcome::SizeChanged, "the file is longer than when it was added");
  }
  return digest;
}

// Reads piece after piece of the entry's data from its callback.
auto CallbackReader(TFileEntry& entry) {
  return [&entry, handler = entry.Extras.get().mfcbFunction](std::uint64_t position, std::uint8_t* to,
                                                              std::size_t want) {
    std::uint32_t delivered = static_cast<std::uint32_t>(want);
    handler(nullptr, &entry, static_cast<std::uint32_t>(position), to, delivered);
    return static_cast<std::int64_t>(std::min<std::uint32_t>(delivered, static_cast<std::uint32_t>(want)));
  };
}

TSourceDigest DigestOfCallback(TFileEntry& entry, std::span<std::uint8_t> buffer,
                               const std::atomic<bool>& aborted, const TDigestProgress& progress) {
  const auto size = static_cast<std::uint64_t>(entry.FileSize);
  if (size >= kMaxMemoryFileBytes) return NoDigest(TDigestOutcome::Unreadable, "the data is too large for its callback");
  return DigestOfPieces(size, buffer, aborted, progress, CallbackReader(entry));
}

using TPieceReader = std::function<std::int64_t(std::uint64_t position, std::uint8_t* to, std::size_t want)>;

// A reader of the entry's source, with File kept open by the caller; empty
// when the source cannot be read.
TPieceReader SourceReader(TFileEntry& entry, TFile& file, std::size_t pieceBytes) {
  if (HasSourcePath(entry)) {
    file = TFile::OpenForReading(Utf16ToUtf8(SourcePath(entry)));
    if (!file.IsOpen()) return {};
    if (static_cast<std::uint64_t>(entry.FileSize) >= pieceBytes) file.AdviseSequential();
    return [&file](std::uint64_t, std::uint8_t* to, std::size_t want) { return file.ReadUpTo(to, want); };
  }
  if (entry.Extras.get().mfcbFunction && static_cast<std::uint64_t>(entry.FileSize) < kMaxMemoryFileBytes) {
    return CallbackReader(entry);
  }
  return {};
}

}  // namespace

TSourceDigest DigestOfSource(TFileEntry& Entry, std::span<std::uint8_t> Buffer, const std::atomic<bool>& Aborted,
                             const TDigestProgress& Progress) {
  if (Entry.FileSize < 0) return NoDigest(TDigestOutcome::Unreadable, "the entry has no size");
  if (HasSourcePath(Entry)) return DigestOfFile(Entry, Buffer, Aborted, Progress);
  if (Entry.Extras.get().mfcbFunction) return DigestOfCallback(Entry, Buffer, Aborted, Progress);
  return NoDigest(TDigestOutcome::Unreadable, "the entry has no source");
}

bool SameSourceData(TFileEntry& A, TFileEntry& B, std::span<std::uint8_t> BufferA, std::span<std::uint8_t> BufferB,
                    const std::atomic<bool>& Aborted) {
  if (A.FileSize != B.FileSize || A.FileSize < 0 || BufferA.size() != BufferB.size()) return false;
  TFile fileA;
  TFile fileB;
  const TPieceReader readA = SourceReader(A, fileA, BufferA.size());
  const TPieceReader readB = SourceReader(B, fileB, BufferB.size());
  if (!readA || !readB) return false;
  const auto size = static_cast<std::uint64_t>(A.FileSize);
  for (std::uint64_t done = 0; done < size; done += BufferA.size()) {
    if (Aborted.load()) return false;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(BufferA.size(), size - done));
    if (readA(done, BufferA.data(), want) != static_cast<std::int64_t>(want) ||
        readB(done, BufferB.data(), want) != static_cast<std::int64_t>(want) ||
        std::memcmp(BufferA.data(), BufferB.data(), want) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace kilnor
