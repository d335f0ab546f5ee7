#include "engine/image/SmartReferences.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>

#include "engine/image/SourceDigest.h"
#include "engine/image/Tree.h"

namespace kilnor {

namespace {

constexpr std::uint64_t kSectorBytes = 2048;
// Large reads keep the disk streaming; one pair of buffers per thread.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
// Links between entries of one content are followed at most this far.
constexpr int kMaxChain = 64;

std::uint64_t WholeSectors(std::int64_t bytes) {
  return (static_cast<std::uint64_t>(bytes) + kSectorBytes - 1) / kSectorBytes;
}

void AddProgress(TCDFiles& cd, std::uint64_t sectors) {
  cd.SmartReferencesProgress.fetch_add(static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, UINT32_MAX)));
}

// The two piece buffers of one thread, allocated once for all its work.
struct TPieceBuffers {
  std::vector<std::uint8_t> First = std::vector<std::uint8_t>(kPieceBytes);
  std::vector<std::uint8_t> Second = std::vector<std::uint8_t>(kPieceBytes);
};

// Hands the items 0..Count-1 out to the calling thread and Threads - 1
// helpers, one at a time, until all are done or Aborted is raised.
template <class Work>
void ShareOut(std::size_t count, unsigned threads, const std::atomic<bool>& aborted, Work work) {
  if (count == 0) return;
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    TPieceBuffers buffers;
    for (std::size_t i = next++; i < count && !aborted.load(); i = next++) work(i, buffers);
  };
  std::vector<std::jthread> helpers;
  const std::size_t helperCount = std::min<std::size_t>(std::max(threads, 1u), count) - 1;
  for (std::size_t t = 0; t < helperCount; ++t) helpers.emplace_back(worker);
  worker();
}

// A run of candidates of one size, in the size-sorted list.
struct TSizeGroup {
  std::size_t First = 0;
  std::size_t End = 0;
};

std::size_t UnreferencedIn(const std::vector<pFileEntry>& sorted, TSizeGroup group) {
  return static_cast<std::size_t>(std::count_if(sorted.begin() + static_cast<std::ptrdiff_t>(group.First),
                                                sorted.begin() + static_cast<std::ptrdiff_t>(group.End),
                                                [](pFileEntry e) { return e->ReferenceEntry == nullptr; }));
}

// The groups in which two or more entries could still share data.
std::vector<TSizeGroup> GroupsToMatch(const std::vector<pFileEntry>& sorted) {
  std::vector<TSizeGroup> groups;
  for (std::size_t first = 0, end = 0; first < sorted.size(); first = end) {
    for (end = first + 1; end < sorted.size() && sorted[end]->FileSize == sorted[first]->FileSize;) ++end;
    const TSizeGroup group{first, end};
    if (UnreferencedIn(sorted, group) >= 2) groups.push_back(group);
  }
  return groups;
}

// The entries of the groups still without a digest, largest first so that
// the threads finish together. Every other candidate counts as dealt with.
std::vector<pFileEntry> EntriesToHash(TCDFiles& cd, const std::vector<pFileEntry>& sorted,
                                      const std::vector<TSizeGroup>& groups) {
  std::vector<pFileEntry> toHash;
  std::uint64_t settled = 0;
  auto group = groups.begin();
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    while (group != groups.end() && group->End <= i) ++group;
    const pFileEntry entry = sorted[i];
    const bool inGroup = group != groups.end() && group->First <= i;
    if (inGroup && entry->ReferenceEntry == nullptr && entry->Extras.get().Hash.empty()) {
      toHash.push_back(entry);
    } else {
      settled += WholeSectors(entry->FileSize);
    }
  }
  AddProgress(cd, settled);
  std::stable_sort(toHash.begin(), toHash.end(), [](pFileEntry a, pFileEntry b) { return a->FileSize > b->FileSize; });
  return toHash;
}

// The application's data callback may not expect two calls at once: its
// entries are read on the pass's own thread only.
bool ReadThroughCallback(pFileEntry entry) { return !HasSourcePath(*entry); }

// Runs Work over Items, those read through callbacks on one thread only.
template <class Item, class Needs, class Work>
void ShareOutSafely(std::vector<Item>& items, unsigned threads, const std::atomic<bool>& aborted, Needs needsCallback,
                    Work work) {
  const auto callbacks = std::stable_partition(items.begin(), items.end(), [&](const Item& i) { return !needsCallback(i); });
  const auto onFiles = static_cast<std::size_t>(callbacks - items.begin());
  ShareOut(onFiles, threads, aborted, work);
  ShareOut(items.size() - onFiles, 1, aborted,
           [&](std::size_t i, TPieceBuffers& buffers) { work(onFiles + i, buffers); });
}

// Two large files read at once make the disk seek between them, slower than
// reading one after the other: they are hashed one at a time on a thread of
// their own, while the other threads take the small files.
constexpr std::int64_t kLargeFileBytes = std::int64_t{64} << 20;

bool IsLargeFile(pFileEntry entry) { return !ReadThroughCallback(entry) && entry->FileSize >= kLargeFileBytes; }

void HashEntries(TCDFiles& cd, std::vector<pFileEntry> toHash, unsigned threads) {
  const auto hash = [&](pFileEntry entry, TPieceBuffers& buffers) {
    const TSourceDigest digest = DigestOfSource(*entry, buffers.First, cd.Aborted,
                                                [&](std::uint32_t sectors) { AddProgress(cd, sectors); });
    if (digest.Outcome == TDigestOutcome::Complete) entry->Extras.edit().Hash = digest.Digest;
  };
  const auto firstSmall = std::stable_partition(toHash.begin(), toHash.end(), IsLargeFile);
  const std::vector<pFileEntry> large(toHash.begin(), firstSmall);
  std::vector<pFileEntry> small(firstSmall, toHash.end());
  std::jthread largeFiles;
  if (!large.empty()) {
    largeFiles = std::jthread([&] {
      ShareOut(large.size(), 1, cd.Aborted, [&](std::size_t i, TPieceBuffers& buffers) { hash(large[i], buffers); });
    });
  }
  const unsigned smallThreads = large.empty() ? threads : std::max(threads, 2u) - 1;
  ShareOutSafely(small, smallThreads, cd.Aborted,
                 ReadThroughCallback, [&](std::size_t i, TPieceBuffers& buffers) { hash(small[i], buffers); });
}

// Entries of one size and one digest that may not reference anything yet,
// in size-sorted order: each becomes a reference or the first of its content.
using TDigestClass = std::vector<pFileEntry>;

std::vector<TDigestClass> DigestClasses(const std::vector<pFileEntry>& sorted, const std::vector<TSizeGroup>& groups) {
  std::vector<TDigestClass> classes;
  for (const TSizeGroup& group : groups) {
    std::unordered_map<std::string, std::size_t> classOfDigest;
    const std::size_t firstClass = classes.size();
    for (std::size_t i = group.First; i < group.End; ++i) {
      const pFileEntry entry = sorted[i];
      if (entry->ReferenceEntry != nullptr || entry->Extras.get().Hash.empty()) continue;
      const auto [slot, added] = classOfDigest.try_emplace(entry->Extras.get().Hash, classes.size());
      if (added) classes.emplace_back();
      classes[slot->second].push_back(entry);
    }
    const auto single = std::remove_if(classes.begin() + static_cast<std::ptrdiff_t>(firstClass), classes.end(),
                                       [](const TDigestClass& c) { return c.size() < 2; });
    classes.erase(single, classes.end());
  }
  return classes;
}

// Each member references the first earlier member whose bytes really are
// the same; a member equal to none (a forged digest twin, or a source that
// can no longer be read) keeps its own data and may be referenced itself.
void ReferenceConfirmedTwins(TCDFiles& cd, const TDigestClass& members, TPieceBuffers& buffers,
                             std::atomic<std::uint32_t>& made) {
  std::vector<pFileEntry> distinct;
  for (const pFileEntry member : members) {
    if (cd.Aborted.load()) return;
    const auto twin = std::find_if(distinct.begin(), distinct.end(), [&](pFileEntry earlier) {
      return SameSourceData(*earlier, *member, buffers.First, buffers.Second, cd.Aborted);
    });
    if (twin == distinct.end()) {
      distinct.push_back(member);
      continue;
    }
    member->ReferenceEntry = *twin;
    cd.SmartReferencesSaved.fetch_add(WholeSectors(member->FileSize) * kSectorBytes);
    ++made;
  }
}

// An owner of earlier references may itself have become a reference now:
// its referencing entries are led on to the data's one recorded owner.
void ResolveToOwners(const std::vector<pFileEntry>& candidates) {
  for (const pFileEntry entry : candidates) {
    pFileEntry owner = entry->ReferenceEntry;
    for (int i = 0; i < kMaxChain && owner != nullptr && owner->ReferenceEntry != nullptr; ++i) {
      owner = owner->ReferenceEntry;
    }
    entry->ReferenceEntry = owner;
  }
}

}  // namespace

std::vector<pFileEntry> SmartReferenceCandidates(const TCDFiles& CDFiles) {
  std::vector<pFileEntry> candidates;
  for (const auto& entry : CDFiles.Files) {
    const bool hasSource = HasSourcePath(*entry) || static_cast<bool>(entry->Extras.get().mfcbFunction);
    if (hasSource && entry->FileSize > 0 && entry->DirRecord == nullptr && !entry->Imported) {
      candidates.push_back(entry.get());
    }
  }
  return candidates;
}

std::uint32_t CandidateSectors(const std::vector<pFileEntry>& Candidates) {
  std::uint64_t sectors = 0;
  for (const pFileEntry entry : Candidates) sectors += WholeSectors(entry->FileSize);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, UINT32_MAX));
}

TSmartReferenceOutcome GenerateReferences(TCDFiles& CDFiles, unsigned Threads) {
  std::vector<pFileEntry> sorted = SmartReferenceCandidates(CDFiles);
  std::stable_sort(sorted.begin(), sorted.end(), [](pFileEntry a, pFileEntry b) { return a->FileSize < b->FileSize; });
  CDFiles.SmartReferencesSize = CandidateSectors(sorted);
  CDFiles.SmartReferencesProgress = 0;
  CDFiles.SmartReferencesSaved = 0;
  const std::vector<TSizeGroup> groups = GroupsToMatch(sorted);
  HashEntries(CDFiles, EntriesToHash(CDFiles, sorted, groups), Threads);

  std::atomic<std::uint32_t> made{0};
  if (!CDFiles.Aborted.load()) {
    std::vector<TDigestClass> classes = DigestClasses(sorted, groups);
    const auto readsCallback = [](const TDigestClass& c) { return std::any_of(c.begin(), c.end(), ReadThroughCallback); };
    ShareOutSafely(classes, Threads, CDFiles.Aborted, readsCallback, [&](std::size_t i, TPieceBuffers& buffers) {
      ReferenceConfirmedTwins(CDFiles, classes[i], buffers, made);
    });
  }
  ResolveToOwners(sorted);
  CDFiles.SmartReferencesProgress = CDFiles.SmartReferencesSize.load();
  return {CDFiles.Aborted.load(), made.load(), CDFiles.SmartReferencesSaved.load()};
}

}  // namespace kilnor
