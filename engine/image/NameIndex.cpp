#include "engine/image/NameIndex.h"

#include "engine/image/SysUtilsW.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {
namespace {

constexpr std::size_t kFirstCapacity = 8;

// Linear probing stays short while at most three slots in four are used.
constexpr bool Crowded(std::size_t count, std::size_t capacity) { return count * 4 > capacity * 3; }

}  // namespace

void TNameIndex::Add(TFileEntry* Entry, std::uint64_t Hash) {
  if (capacity_ == 0 || Crowded(count_ + 1, capacity_)) {
    Rebuild(capacity_ == 0 ? kFirstCapacity : capacity_ * 2, [](const TFileEntry*) { return true; });
  }
  Place(Entry, Hash);
  ++count_;
}

void TNameIndex::RemoveIf(const std::function<bool(const TFileEntry*)>& Gone) {
  Rebuild(capacity_, [&](const TFileEntry* entry) { return !Gone(entry); });
}

void TNameIndex::Place(TFileEntry* Entry, std::uint64_t Hash) {
  std::size_t slot = HomeOf(Hash);
  while (tags_[slot] != kEmpty) slot = (slot + 1) & (capacity_ - 1);
  tags_[slot] = TagOf(Hash);
  entries_[slot] = Entry;
}

void TNameIndex::Rebuild(std::size_t Capacity, const std::function<bool(const TFileEntry*)>& Keep) {
  auto oldEntries = std::move(entries_);
  auto oldTags = std::move(tags_);
  const std::size_t oldCapacity = capacity_;
  capacity_ = Capacity;
  count_ = 0;
  entries_ = std::make_unique<TFileEntry*[]>(capacity_);
  tags_ = std::make_unique<std::uint8_t[]>(capacity_);
  for (std::size_t slot = 0; slot < oldCapacity; ++slot) {
    if (oldTags[slot] == kEmpty || !Keep(oldEntries[slot])) continue;
    Place(oldEntries[slot], TextHashW(oldEntries[slot]->LongName));
    ++count_;
  }
}

}  // namespace kilnor
