#pragma once
// Folder search: the items of one folder (or one named item) as find data,
// each with its long name, its 8.3 alias, attributes, times and size.
//
// A search never follows symbolic links: a link is reported as a link
// (kAttributeReparsePoint, plus kAttributeDirectory when it points at a
// folder), so a walk that does not descend into links cannot loop. A link to
// an ordinary file carries the size and times of that file, the data a reader
// of the link gets. Items without ordinary data carry kAttributeDevice.
// "." and ".." are never reported. Items come in the order of their upper-case
// names, which is also the order the 8.3 aliases are handed out in.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform/FindData.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kilnor {

enum class TSearchStatus : std::uint8_t {
  Ok,
  NoMoreFiles,   // the search ran to its end
  NotFound,      // no item matches, or the folder does not exist
  AccessDenied,  // the folder or item may not be read
  Failed,        // any other failure; see ErrorText
};

class TFileSearch {
 public:
  TFileSearch();
  ~TFileSearch();
  TFileSearch(const TFileSearch&) = delete;
  TFileSearch& operator=(const TFileSearch&) = delete;

  // Starts a search and yields its first item. The last component of Pattern
  // is either a name (the item itself is found) or a file spec with * and ?
  // (the folder's items that match are listed, compared case-insensitively;
  // "*.*" matches every item). A running search is closed first.
  [[nodiscard]] bool FindFirst(std::u16string_view Pattern, TWin32FindDataW& fd);
  [[nodiscard]] bool FindNext(TWin32FindDataW& fd);
  // Finds the one item at Path, taking * and ? in its name literally.
  [[nodiscard]] bool FindItem(std::u16string_view Path, TWin32FindDataW& fd);
  // 8-bit forms: UTF-8 names.
  [[nodiscard]] bool FindFirst(std::string_view Pattern, TWin32FindDataA& fd);
  [[nodiscard]] bool FindNext(TWin32FindDataA& fd);
  // The POSIX status of the item the last call yielded; null on systems that
  // keep none, or when that call yielded nothing.
  [[nodiscard]] const TItemStatus* LastItemStatus() const;
  // Starts the running search over from its first item, without reading
  // the folder again.
  void Rewind();
  void Close();

  // Why the last call returned false, and a readable reason for failures.
  [[nodiscard]] TSearchStatus Status() const { return status_; }
  [[nodiscard]] const std::string& ErrorText() const { return errorText_; }

 private:
  struct TListing;
  [[nodiscard]] bool Start(std::u16string_view Pattern, bool literal, TWin32FindDataW& fd);
  std::unique_ptr<TListing> listing_;
  TSearchStatus status_ = TSearchStatus::NoMoreFiles;
  std::string errorText_;
};

#ifndef _WIN32
// The status fields of a stat() result.
[[nodiscard]] TItemStatus StatusOf(const struct stat& status);
#endif

// True when `name` matches the file spec under the folder search's rules.
[[nodiscard]] bool MatchesFileSpec(std::u16string_view name, std::u16string_view spec);

// True when `name` is a valid 8.3 name apart from letter case, so the file
// system gives it no alias.
[[nodiscard]] bool FitsShortName(std::u16string_view name);

// The 8.3 aliases of one folder's names, index for index: empty for names that
// fit 8.3, otherwise BASENA~N.EXT, unique within the folder. Aliases are given
// in the order of `names`.
[[nodiscard]] std::vector<std::u16string> GenerateShortAliases(const std::vector<std::u16string>& names);

// Bounds-checked copies into the fixed name fields: false (and the field left
// empty) when the text with its NUL does not fit.
template <std::size_t N, typename Char>
[[nodiscard]] bool CopyToField(Char (&field)[N], std::basic_string_view<Char> text) {
  if (text.size() >= N) {
    field[0] = Char{};
    return false;
  }
  text.copy(field, text.size());
  for (std::size_t i = text.size(); i < N; ++i) field[i] = Char{};
  return true;
}

// The text of a fixed name field, up to its NUL or the end of the field.
template <std::size_t N, typename Char>
[[nodiscard]] std::basic_string_view<Char> FieldText(const Char (&field)[N]) {
  std::size_t length = 0;
  while (length < N && field[length] != Char{}) ++length;
  return {field, length};
}

// Converts find data between the wide and the 8-bit kind; false when a name
// does not fit the other kind's field.
[[nodiscard]] bool ToFindDataW(const TWin32FindDataA& from, TWin32FindDataW& to);
[[nodiscard]] bool ToFindDataA(const TWin32FindDataW& from, TWin32FindDataA& to);

}  // namespace kilnor
