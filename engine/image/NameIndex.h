#pragma once
// The index of one directory's entries by name, so that an insert into a large
// directory neither walks nor compares the whole list. An open-addressing
// table of entry pointers with one byte of each name's hash beside it: about
// 15 bytes an entry, and a name is compared only when that byte matches.
#include <cstdint>
#include <functional>
#include <memory>

namespace kilnor {

struct TFileEntry;

class TNameIndex {
 public:
  // Hash is TextHashW of the entry's LongName, under which names that differ
  // only in case hash alike.
  void Add(TFileEntry* Entry, std::uint64_t Hash);

  // Calls Visit with every entry whose name may have that hash, until Visit
  // returns true.
  template <class TVisit>
  void ForEachCandidate(std::uint64_t Hash, TVisit&& Visit) const {
    if (capacity_ == 0) return;
    const std::uint8_t tag = TagOf(Hash);
    for (std::size_t slot = HomeOf(Hash);; slot = (slot + 1) & (capacity_ - 1)) {
      if (tags_[slot] == kEmpty) return;
      if (tags_[slot] == tag && Visit(entries_[slot])) return;
    }
  }

  // Drops the entries for which Gone is true.
  void RemoveIf(const std::function<bool(const TFileEntry*)>& Gone);

  [[nodiscard]] std::size_t Count() const { return count_; }

 private:
  static constexpr std::uint8_t kEmpty = 0;
  // The top bits choose the tag, the low bits the home slot, so that the two
  // are independent; the tag's high bit marks a used slot.
  static std::uint8_t TagOf(std::uint64_t Hash) { return static_cast<std::uint8_t>((Hash >> 57) | 0x80); }
  [[nodiscard]] std::size_t HomeOf(std::uint64_t Hash) const { return Hash & (capacity_ - 1); }
  void Place(TFileEntry* Entry, std::uint64_t Hash);
  // Places every entry again in a table of Capacity slots.
  void Rebuild(std::size_t Capacity, const std::function<bool(const TFileEntry*)>& Keep);

  std::unique_ptr<TFileEntry*[]> entries_;
  std::unique_ptr<std::uint8_t[]> tags_;
  std::size_t capacity_ = 0;  // a power of two, or 0 before the first entry
  std::size_t count_ = 0;
};

}  // namespace kilnor
