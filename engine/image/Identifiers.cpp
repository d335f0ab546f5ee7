#include "engine/image/Identifiers.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

// How names are told apart when they are made unique.
enum class TCase : std::uint8_t { Ignored, Kept };

template <class Text>
Text Folded(Text text, TCase rule = TCase::Ignored) {
  if (rule == TCase::Kept) return text;
  for (auto& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<typename Text::value_type>(c - 'a' + 'A');
  return text;
}

// Joliet names keep their case where the source's names are case-sensitive,
// so two names that differ only in case both stay as they are.
#ifdef _WIN32
constexpr TCase kJolietCase = TCase::Ignored;
#else
constexpr TCase kJolietCase = TCase::Kept;
#endif

std::size_t PrefixLength(const std::string& text, std::size_t maxUnits) {
  return Utf8PrefixLength(text, maxUnits);
}
std::size_t PrefixLength(const std::u16string& text, std::size_t maxUnits) {
  return Utf16PrefixLength(text, maxUnits);
}

// `name` cut to `limit` units with `tail` put before the extension of a
// file; the extension is kept unless it leaves no room for a stem.
template <class Text>
Text Shortened(const Text& name, bool isFile, std::size_t limit, const std::string& tail) {
  const std::size_t dot = isFile ? name.rfind('.') : Text::npos;
  Text extension = dot == Text::npos ? Text() : name.substr(dot);
  if (extension.size() + tail.size() >= limit) extension.clear();
  const Text stem = name.substr(0, name.size() - extension.size());
  const std::size_t keep = PrefixLength(stem, limit - extension.size() - tail.size());
  return stem.substr(0, keep) + Text(tail.begin(), tail.end()) + extension;
}

// Makes the names unique within their directory and at most `limit` units
// long. Names that already are keep themselves, first come first served,
// except that names marked in `altered` (already changed from the source's)
// come after all the others; the rest are shortened and, when still taken,
// numbered.
template <class Text>
void MakeUnique(std::vector<Text>& names, const std::vector<bool>& isFile, std::size_t limit,
                TCase rule = TCase::Ignored, const std::vector<bool>& altered = {}) {
  const auto Folded = [rule](const Text& text) { return ::kilnor::Folded(text, rule); };
  std::unordered_set<Text> taken;
  taken.reserve(names.size() * 2);
  std::vector<std::size_t> renamed;
  for (const bool alteredPass : {false, true}) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if ((i < altered.size() && altered[i]) != alteredPass) continue;
      if (names[i].size() > limit || !taken.insert(Folded(names[i])).second) renamed.push_back(i);
    }
  }
  unsigned counter = 0;
  for (std::size_t i : renamed) {
    const Text& name = names[i];
    if (name.size() > limit) {
      Text cut = Shortened(name, isFile[i], limit, std::string());
      if (taken.insert(Folded(cut)).second) {
        names[i] = std::move(cut);
        continue;
      }
    }
    Text candidate;
    do {
      const std::string tail = "~" + std::to_string(++counter);
      const std::size_t room = std::min(limit, std::max(name.size(), tail.size() + 2));
      candidate = Shortened(name, isFile[i], room, tail);
    } while (!taken.insert(Folded(candidate)).second);
    names[i] = std::move(candidate);
  }
}

// The short name as recorded: ASCII letters upper-cased, and the bytes
// readers take for a version separator or a path separator replaced.
std::string IsoShortName(const TFileEntry& entry) {
  std::string name(entry.ShortName, strnlen(entry.ShortName, kShortNameBytes));
  if (entry.FileNameLength < name.size()) name.resize(entry.FileNameLength);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == ';' || c == '/') c = '_';
  }
  return name.empty() ? std::string("_") : name;
}

std::string Iso1999Name(const TFileEntry& entry) {
  std::string name = Utf16ToUtf8(RecordableName(entry.LongName));
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  return name.empty() ? std::string("_") : name;
}

bool IsFile(const TFileEntry& entry) { return entry.DirRecord == nullptr; }

void ChooseIsoIdentifiers(const std::vector<pFileEntry>& entries, const std::vector<bool>& isFile,
                          bool iso9660v1999, bool rockRidge) {
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (pFileEntry e : entries) names.push_back(iso9660v1999 ? Iso1999Name(*e) : IsoShortName(*e));
  const std::size_t iso1999Limit = rockRidge ? kMaxIso1999IdentifierBytesWithRockRidge : kMaxIso1999IdentifierBytes;
  MakeUnique(names, isFile, iso9660v1999 ? iso1999Limit : kMaxIsoIdentifierBytes);
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i]->IdentifierISO = std::move(names[i]);
}

void ForgetJolietIdentifier(TFileEntry& entry) {
  if (entry.Extras) entry.Extras.edit().IdentifierJoliet.clear();
}

// Long names as recorded: control characters and bytes that were not UTF-8
// replaced, too long ones shortened, and each unique in the directory.
void ChooseJolietIdentifiers(const std::vector<pFileEntry>& entries, const std::vector<bool>& isFile) {
  std::vector<std::u16string> names;
  std::vector<bool> altered;
  names.reserve(entries.size());
  altered.reserve(entries.size());
  for (pFileEntry e : entries) {
    names.push_back(RecordableName(e->LongName));
    altered.push_back(names.back() != e->LongName);
  }
  const bool anyToChange = std::any_of(altered.begin(), altered.end(), [](bool a) { return a; }) ||
                           std::any_of(entries.begin(), entries.end(),
                                       [](pFileEntry e) { return e->LongName.size() > kMaxJolietNameUnits; });
  if (!anyToChange) {
    for (pFileEntry e : entries) ForgetJolietIdentifier(*e);
    return;
  }
  MakeUnique(names, isFile, kMaxJolietNameUnits, kJolietCase, altered);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (names[i] == entries[i]->LongName)
      ForgetJolietIdentifier(*entries[i]);
    else
      entries[i]->Extras.edit().IdentifierJoliet = std::move(names[i]);
  }
}

// Compares as if the shorter text were padded with spaces: the common part
// as bytes, then the rest of the longer text against spaces.
int PaddedCompare(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  if (common > 0) {
    if (const int c = std::memcmp(a.data(), b.data(), common); c != 0) return c < 0 ? -1 : 1;
  }
  const bool aLonger = a.size() > common;
  for (const char c : (aLonger ? a : b).substr(common)) {
    if (c != ' ') return (static_cast<unsigned char>(c) > ' ') == aLonger ? 1 : -1;
  }
  return 0;
}

// An identifier split where its ordering looks: the name before the first
// dot, and the rest.
struct TSortKey {
  std::string_view Name;
  std::string_view Extension;
  std::string_view Whole;
  pFileEntry Entry;
};

TSortKey SortKeyOf(pFileEntry entry) {
  const std::string_view id = entry->IdentifierISO;
  const std::size_t dot = std::min(id.find('.'), id.size());
  return {id.substr(0, dot), id.substr(dot), id, entry};
}

bool KeyLess(const TSortKey& a, const TSortKey& b) {
  if (const int c = PaddedCompare(a.Name, b.Name); c != 0) return c < 0;
  if (const int c = PaddedCompare(a.Extension, b.Extension); c != 0) return c < 0;
  return a.Whole < b.Whole;
}

}  // namespace

void ChooseIdentifiers(const TDirEntry& dir, bool iso9660v1999, bool rockRidge) {
  std::vector<pFileEntry> entries;
  std::vector<bool> isFile;
  for (pFileEntry e = dir.Files; e != nullptr; e = e->NextFile) {
    entries.push_back(e);
    isFile.push_back(IsFile(*e));
  }
  ChooseIsoIdentifiers(entries, isFile, iso9660v1999, rockRidge);
  ChooseJolietIdentifiers(entries, isFile);
}

// The keys are split once, so that each comparison of the sort only compares.
void SortEntries(TDirEntry& dir) {
  std::vector<TSortKey> keys;
  for (pFileEntry e = dir.Files; e != nullptr; e = e->NextFile) keys.push_back(SortKeyOf(e));
  std::sort(keys.begin(), keys.end(), KeyLess);
  pFileEntry* link = &dir.Files;
  for (const TSortKey& key : keys) {
    *link = key.Entry;
    link = &key.Entry->NextFile;
  }
  *link = nullptr;
  dir.LastFile = keys.empty() ? nullptr : keys.back().Entry;
}

}  // namespace kilnor
