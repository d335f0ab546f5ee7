#include "engine/platform/FileSearch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "engine/platform/CaseMapping.h"
#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace kilnor {

// One item of a listing, kept compact: a folder may hold 200,000 of them.
struct TSearchItem {
  std::u16string name;
  std::u16string alias;
  std::uint32_t attributes = 0;
  TFileTime creationTime = 0;
  TFileTime accessTime = 0;
  TFileTime writeTime = 0;
  std::uint64_t size = 0;
  TItemStatus status;              // POSIX systems only
};

struct TFileSearch::TListing {
  std::vector<TSearchItem> items;
  std::size_t next = 0;
};

namespace {

constexpr std::size_t kShortBaseChars = 8;
constexpr std::size_t kShortExtensionChars = 3;

bool IsShortNameSymbol(char16_t unit) {
  return std::u16string_view(u"$%'-_@~`!(){}^#&").find(unit) != std::u16string_view::npos;
}

bool IsShortNameChar(char16_t unit) {
  return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
         (unit >= u'0' && unit <= u'9') || IsShortNameSymbol(unit);
}

bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The alias form of part of a name: spaces and dots dropped, letters upper-cased,
// every character outside the 8.3 set (one per code point) replaced by '_'.
std::u16string CleanAliasPart(std::u16string_view part, std::size_t maxChars) {
  std::u16string out;
  for (std::size_t i = 0; i < part.size() && out.size() < maxChars; ++i) {
    const char16_t unit = part[i];
    if (unit == u' ' || unit == u'.') continue;
    if (IsHighSurrogate(unit) && i + 1 < part.size() && IsLowSurrogate(part[i + 1])) ++i;
    out.push_back(IsShortNameChar(unit) ? UpCaseChar(unit) : u'_');
  }
  return out;
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& unit : out) unit = UpCaseChar(unit);
  return out;
}

// Alias base (cut to 8) and extension (cut to 3) of a name that needs an alias.
void AliasParts(std::u16string_view name, std::u16string& base, std::u16string& extension) {
  const std::size_t firstNonDot = name.find_first_not_of(u'.');
  if (firstNonDot != std::u16string_view::npos) name.remove_prefix(firstNonDot);
  const std::size_t lastDot = name.rfind(u'.');
  if (lastDot == std::u16string_view::npos) {
    base = CleanAliasPart(name, kShortBaseChars);
    extension.clear();
  } else {
    base = CleanAliasPart(name.substr(0, lastDot), kShortBaseChars);
    extension = CleanAliasPart(name.substr(lastDot + 1), kShortExtensionChars);
  }
  if (base.empty()) base.push_back(u'_');
}

std::u16string ComposeAlias(const std::u16string& base, const std::u16string& extension,
                            unsigned number) {
  std::u16string tail = u"~";
  for (char ch : std::to_string(number)) tail.push_back(static_cast<char16_t>(ch));
  std::u16string alias = base.substr(0, kShortBaseChars - tail.size());
  alias += tail;
  if (!extension.empty()) {
    alias += u'.';
    alias += extension;
  }
  return alias;
}

bool GlobMatch(std::u16string_view name, std::u16string_view spec) {
  std::size_t n = 0;
  std::size_t s = 0;
  std::size_t starSpec = std::u16string_view::npos;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (s < spec.size() && (spec[s] == u'?' || UpCaseChar(spec[s]) == UpCaseChar(name[n]))) {
      ++n;
      ++s;
    } else if (s < spec.size() && spec[s] == u'*') {
      starSpec = s++;
      starName = n;
    } else if (starSpec != std::u16string_view::npos) {
      s = starSpec + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (s < spec.size() && spec[s] == u'*') ++s;
  return s == spec.size();
}

void FillFindData(const TSearchItem& item, TWin32FindDataW& fd) {
  fd = TWin32FindDataW{};
  fd.dwFileAttributes = item.attributes;
  fd.ftCreationTime = item.creationTime;
  fd.ftLastAccessTime = item.accessTime;
  fd.ftLastWriteTime = item.writeTime;
  fd.nFileSizeHigh = static_cast<std::uint32_t>(item.size >> 32);
  fd.nFileSizeLow = static_cast<std::uint32_t>(item.size);
  // Both fit: listings keep only names that fit these fields.
  (void)CopyToField(fd.cFileName, std::u16string_view(item.name));
  (void)CopyToField(fd.cAlternateFileName, std::u16string_view(item.alias));
}

bool FitsFindData(const TSearchItem& item) {
  return item.name.size() < kMaxPathChars && Utf16ToUtf8(item.name).size() < kMaxPathChars &&
         item.alias.size() < kAlternateNameChars;
}

#ifndef _WIN32

bool HasWildcards(std::u16string_view text) {
  return text.find_first_of(u"*?") != std::u16string_view::npos;
}

// Puts items in the order of their upper-case names (ties by the names
// themselves); each name is upper-cased once, not at every comparison.
void SortListing(std::vector<TSearchItem>& items) {
  std::vector<std::pair<std::u16string, std::size_t>> keys;
  keys.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) keys.emplace_back(UpperCase(items[i].name), i);
  std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return items[a.second].name < items[b.second].name;
  });
  std::vector<TSearchItem> sorted;
  sorted.reserve(items.size());
  for (const auto& key : keys) sorted.push_back(std::move(items[key.second]));
  items = std::move(sorted);
}

TFileTime FileTimeOf(const struct timespec& time) { return FileTimeFromUnix(time.tv_sec, time.tv_nsec); }

TPosixTime PosixTimeOf(const struct timespec& time) {
  return {static_cast<std::int64_t>(time.tv_sec), static_cast<std::uint32_t>(time.tv_nsec)};
}

TSearchStatus StatusOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return TSearchStatus::NotFound;
    case EACCES:
    case EPERM:
      return TSearchStatus::AccessDenied;
    default:
      return TSearchStatus::Failed;
  }
}

}  // namespace

TItemStatus StatusOf(const struct stat& status) {
  TItemStatus item;
  item.Mode = static_cast<std::uint32_t>(status.st_mode);
  item.Links = static_cast<std::uint32_t>(status.st_nlink);
  item.Uid = static_cast<std::uint32_t>(status.st_uid);
  item.Gid = static_cast<std::uint32_t>(status.st_gid);
  item.SerialNumber = static_cast<std::uint64_t>(status.st_ino);
  item.Size = static_cast<std::uint64_t>(status.st_size);
  item.Modify = PosixTimeOf(status.st_mtim);
  item.Access = PosixTimeOf(status.st_atim);
  item.Change = PosixTimeOf(status.st_ctim);
  return item;
}

namespace {

// Attributes, times and size of one item, from its own status and, for a
// symbolic link, the status of its target (`target` null when unreachable).
TSearchItem ItemOfStatus(std::string_view nameUtf8, const struct stat& own, const struct stat* target) {
  TSearchItem item;
  item.name = Utf8ToUtf16(nameUtf8);
  const struct stat* data = &own;
  if (S_ISDIR(own.st_mode)) {
    item.attributes = kAttributeDirectory;
  } else if (S_ISREG(own.st_mode)) {
    item.attributes = kAttributeArchive;
  } else if (S_ISLNK(own.st_mode)) {
    item.attributes = kAttributeReparsePoint;
    if (target != nullptr && S_ISDIR(target->st_mode)) {
      item.attributes |= kAttributeDirectory;
    } else if (target != nullptr && S_ISREG(target->st_mode)) {
      item.attributes |= kAttributeArchive;
      data = target;
    } else {
      item.attributes |= kAttributeDevice;
    }
  } else {
    item.attributes = kAttributeDevice;
  }
  if (!nameUtf8.empty() && nameUtf8[0] == '.') item.attributes |= kAttributeHidden;
  if (!(item.attributes & kAttributeDirectory) && !(data->st_mode & S_IWUSR)) {
    item.attributes |= kAttributeReadOnly;
  }
  item.creationTime = FileTimeOf(data->st_ctim);
  item.accessTime = FileTimeOf(data->st_atim);
  item.writeTime = FileTimeOf(data->st_mtim);
  if (S_ISREG(data->st_mode)) item.size = static_cast<std::uint64_t>(data->st_size);
  item.status = StatusOf(own);
  return item;
}

void SplitPattern(const std::string& pattern, std::string& folder, std::string& last) {
  const std::size_t slash = pattern.rfind('/');
  if (slash == std::string::npos) {
    folder = ".";
    last = pattern;
  } else {
    folder = slash == 0 ? "/" : pattern.substr(0, slash);
    last = pattern.substr(slash + 1);
  }
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string ErrnoText(const char* what, const std::string& path, int error) {
  return std::string(what) + " " + path + ": " + std::strerror(error);
}

// Reads every item of a folder with its status; "." and ".." left out.
TSearchStatus ReadFolder(const std::string& folder, std::vector<TSearchItem>& items,
                         std::string& errorText) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    const int error = errno;
    errorText = ErrnoText("cannot read folder", folder, error);
    return StatusOfErrno(error);
  }
  const int dirFd = dirfd(dir);
  TSearchStatus status = TSearchStatus::Ok;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) {
        errorText = ErrnoText("cannot read folder", folder, errno);
        status = TSearchStatus::Failed;
      }
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat own {};
    if (fstatat(dirFd, entry->d_name, &own, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed while the folder was read
      // A folder whose names can be read but whose items cannot be looked at
      // (read but no search permission) must not pass for an empty one.
      const int error = errno;
      errorText = ErrnoText("cannot read", JoinPath(folder, entry->d_name), error);
      status = StatusOfErrno(error);
      break;
    }
    struct stat target {};
    const bool reachable = S_ISLNK(own.st_mode) && fstatat(dirFd, entry->d_name, &target, 0) == 0;
    TSearchItem item = ItemOfStatus(name, own, reachable ? &target : nullptr);
    if (FitsFindData(item)) items.push_back(std::move(item));
  }
  closedir(dir);
  return status;
}

void AssignAliases(std::vector<TSearchItem>& items) {
  std::vector<std::u16string> names;
  names.reserve(items.size());
  for (const TSearchItem& item : items) names.push_back(item.name);
  std::vector<std::u16string> aliases = GenerateShortAliases(names);
  for (std::size_t i = 0; i < items.size(); ++i) items[i].alias = std::move(aliases[i]);
}

// The aliases of one folder are needed again and again when its files are
// searched one by one; the last folder's are kept while it stays unchanged.
class TAliasCache {
 public:
  std::u16string AliasOf(const std::string& folder, const std::u16string& name) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0) return ComposeAliasAlone(name);
    std::lock_guard lock(mutex_);
    if (folder != folder_ || status.st_dev != dev_ || status.st_ino != ino_ ||
        status.st_mtim.tv_sec != mtime_.tv_sec || status.st_mtim.tv_nsec != mtime_.tv_nsec) {
      if (!Reload(folder)) return ComposeAliasAlone(name);
      folder_ = folder;
      dev_ = status.st_dev;
      ino_ = status.st_ino;
      mtime_ = status.st_mtim;
    }
    const auto found = aliases_.find(name);
    return found != aliases_.end() ? found->second : ComposeAliasAlone(name);
  }

 private:
  static std::u16string ComposeAliasAlone(const std::u16string& name) {
    return GenerateShortAliases({name}).front();
  }

  bool Reload(const std::string& folder) {
    folder_.clear();
    aliases_.clear();
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    std::vector<TSearchItem> items;
    while (const dirent* entry = readdir(dir)) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      TSearchItem item;
      item.name = Utf8ToUtf16(name);
      items.push_back(std::move(item));
    }
    closedir(dir);
    SortListing(items);
    AssignAliases(items);
    for (TSearchItem& item : items) {
      if (!item.alias.empty()) aliases_.emplace(std::move(item.name), std::move(item.alias));
    }
    return true;
  }

  std::mutex mutex_;
  std::string folder_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  struct timespec mtime_ {};
  std::unordered_map<std::u16string, std::u16string> aliases_;
};

TAliasCache& AliasCache() {
  static TAliasCache cache;
  return cache;
}

TSearchStatus FindOne(const std::string& folder, const std::string& name,
                      std::vector<TSearchItem>& items, std::string& errorText) {
  const std::string path = JoinPath(folder, name);
  struct stat own {};
  if (lstat(path.c_str(), &own) != 0) {
    const int error = errno;
    errorText = ErrnoText("cannot find", path, error);
    return StatusOfErrno(error);
  }
  struct stat target {};
  const bool reachable = S_ISLNK(own.st_mode) && stat(path.c_str(), &target) == 0;
  TSearchItem item = ItemOfStatus(name, own, reachable ? &target : nullptr);
  if (!FitsShortName(item.name)) item.alias = AliasCache().AliasOf(folder, item.name);
  if (!FitsFindData(item)) {
    errorText = "name too long for find data: " + path;
    return TSearchStatus::Failed;
  }
  items.push_back(std::move(item));
  return TSearchStatus::Ok;
}

TSearchStatus ListItems(std::u16string_view pattern, bool literal, std::vector<TSearchItem>& items,
                        std::string& errorText) {
  std::string folder;
  std::string last;
  SplitPattern(Utf16ToUtf8(pattern), folder, last);
  if (last.empty()) {
    errorText = "no item named in " + Utf16ToUtf8(pattern);
    return TSearchStatus::NotFound;
  }
  const std::u16string spec = Utf8ToUtf16(last);
  if (literal || !HasWildcards(spec)) return FindOne(folder, last, items, errorText);

  const TSearchStatus status = ReadFolder(folder, items, errorText);
  if (status != TSearchStatus::Ok) return status;
  SortListing(items);
  AssignAliases(items);
  std::erase_if(items, [&](const TSearchItem& item) { return !MatchesFileSpec(item.name, spec); });
  if (items.empty()) {
    errorText = "no item matches " + Utf16ToUtf8(pattern);
    return TSearchStatus::NotFound;
  }
  return TSearchStatus::Ok;
}

#else  // _WIN32

TFileTime FileTimeOf(const FILETIME& time) {
  return (static_cast<TFileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TSearchStatus StatusOfError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
      return TSearchStatus::NotFound;
    case ERROR_ACCESS_DENIED:
      return TSearchStatus::AccessDenied;
    default:
      return TSearchStatus::Failed;
  }
}

TSearchStatus ListItems(std::u16string_view pattern, bool literal, std::vector<TSearchItem>& items,
                        std::string& errorText) {
  // Names on this system cannot hold wildcards, so a literal path with one
  // names nothing.
  if (literal && pattern.find_first_of(u"*?") != std::u16string_view::npos) {
    errorText = "cannot find " + Utf16ToUtf8(pattern);
    return TSearchStatus::NotFound;
  }
  const std::wstring widePattern(pattern.begin(), pattern.end());
  WIN32_FIND_DATAW data{};
  HANDLE search = ::FindFirstFileW(widePattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    errorText = "cannot search " + Utf16ToUtf8(pattern) + ": error " + std::to_string(error);
    return StatusOfError(error);
  }
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    TSearchItem item;
    item.name.assign(name.begin(), name.end());
    const std::wstring_view alias = data.cAlternateFileName;
    item.alias.assign(alias.begin(), alias.end());
    item.attributes = data.dwFileAttributes;
    item.creationTime = FileTimeOf(data.ftCreationTime);
    item.accessTime = FileTimeOf(data.ftLastAccessTime);
    item.writeTime = FileTimeOf(data.ftLastWriteTime);
    item.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (FitsFindData(item)) items.push_back(std::move(item));
  } while (::FindNextFileW(search, &data));
  ::FindClose(search);
  if (items.empty()) {
    errorText = "no item matches " + Utf16ToUtf8(pattern);
    return TSearchStatus::NotFound;
  }
  return TSearchStatus::Ok;
}

#endif

}  // namespace

TFileSearch::TFileSearch() = default;
TFileSearch::~TFileSearch() = default;

void TFileSearch::Rewind() {
  if (listing_) listing_->next = 0;
}

void TFileSearch::Close() {
  listing_.reset();
  status_ = TSearchStatus::NoMoreFiles;
}

bool TFileSearch::Start(std::u16string_view Pattern, bool literal, TWin32FindDataW& fd) {
  Close();
  errorText_.clear();
  auto listing = std::make_unique<TListing>();
  status_ = ListItems(Pattern, literal, listing->items, errorText_);
  if (status_ != TSearchStatus::Ok) return false;
  listing_ = std::move(listing);
  return FindNext(fd);
}

bool TFileSearch::FindFirst(std::u16string_view Pattern, TWin32FindDataW& fd) {
  return Start(Pattern, false, fd);
}

bool TFileSearch::FindItem(std::u16string_view Path, TWin32FindDataW& fd) {
  return Start(Path, true, fd);
}

bool TFileSearch::FindNext(TWin32FindDataW& fd) {
  if (!listing_ || listing_->next >= listing_->items.size()) {
    status_ = TSearchStatus::NoMoreFiles;
    return false;
  }
  FillFindData(listing_->items[listing_->next++], fd);
  status_ = TSearchStatus::Ok;
  return true;
}

const TItemStatus* TFileSearch::LastItemStatus() const {
#ifdef _WIN32
  return nullptr;
#else
  if (!listing_ || listing_->next == 0 || status_ != TSearchStatus::Ok) return nullptr;
  return &listing_->items[listing_->next - 1].status;
#endif
}

bool TFileSearch::FindFirst(std::string_view Pattern, TWin32FindDataA& fd) {
  TWin32FindDataW wide;
  return FindFirst(std::u16string_view(Utf8ToUtf16(Pattern)), wide) && ToFindDataA(wide, fd);
}

bool TFileSearch::FindNext(TWin32FindDataA& fd) {
  TWin32FindDataW wide;
  return FindNext(wide) && ToFindDataA(wide, fd);
}

bool MatchesFileSpec(std::u16string_view name, std::u16string_view spec) {
  if (spec == u"*" || spec == u"*.*") return true;
  if (GlobMatch(name, spec)) return true;
  // "name.*" also matches a name that has no extension at all.
  const bool endsWithAnyExtension = spec.size() >= 2 && spec.substr(spec.size() - 2) == u".*";
  return endsWithAnyExtension && name.find(u'.') == std::u16string_view::npos &&
         GlobMatch(name, spec.substr(0, spec.size() - 2));
}

bool FitsShortName(std::u16string_view name) {
  const std::size_t dot = name.find(u'.');
  std::u16string_view base = name;
  std::u16string_view extension;
  if (dot != std::u16string_view::npos) {
    base = name.substr(0, dot);
    extension = name.substr(dot + 1);
    if (extension.empty() || extension.find(u'.') != std::u16string_view::npos) return false;
  }
  if (base.empty() || base.size() > kShortBaseChars || extension.size() > kShortExtensionChars) {
    return false;
  }
  return std::all_of(base.begin(), base.end(), IsShortNameChar) &&
         std::all_of(extension.begin(), extension.end(), IsShortNameChar);
}

std::vector<std::u16string> GenerateShortAliases(const std::vector<std::u16string>& names) {
  std::vector<std::u16string> aliases(names.size());
  std::unordered_set<std::u16string> taken;
  for (const std::u16string& name : names) {
    if (FitsShortName(name)) taken.insert(UpperCase(name));
  }
  // Next number to try for each base and extension, so that thousands of
  // similar names do not probe the same numbers again and again.
  std::unordered_map<std::u16string, unsigned> nextNumber;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (FitsShortName(names[i])) continue;
    std::u16string base;
    std::u16string extension;
    AliasParts(names[i], base, extension);
    std::u16string key = base;
    key += u'.';
    key += extension;
    unsigned& number = nextNumber.try_emplace(std::move(key), 1).first->second;
    std::u16string alias;
    do {
      alias = ComposeAlias(base, extension, number++);
    } while (!taken.insert(alias).second);
    aliases[i] = std::move(alias);
  }
  return aliases;
}

namespace {

// The two kinds of find data differ only in how their names are encoded:
// everything else is copied as it is, the names through `convertName`.
template <typename TFrom, typename TTo, typename TConvertName>
[[nodiscard]] bool ConvertFindData(const TFrom& from, TTo& to, TConvertName convertName) {
  to = TTo{};
  to.dwFileAttributes = from.dwFileAttributes;
  to.ftCreationTime = from.ftCreationTime;
  to.ftLastAccessTime = from.ftLastAccessTime;
  to.ftLastWriteTime = from.ftLastWriteTime;
  to.nFileSizeHigh = from.nFileSizeHigh;
  to.nFileSizeLow = from.nFileSizeLow;
  const auto name = convertName(FieldText(from.cFileName));
  const auto alias = convertName(FieldText(from.cAlternateFileName));
  return CopyToField(to.cFileName, std::basic_string_view(name.data(), name.size())) &&
         CopyToField(to.cAlternateFileName, std::basic_string_view(alias.data(), alias.size()));
}

}  // namespace

bool ToFindDataW(const TWin32FindDataA& from, TWin32FindDataW& to) {
  return ConvertFindData(from, to, Utf8ToUtf16);
}

bool ToFindDataA(const TWin32FindDataW& from, TWin32FindDataA& to) {
  return ConvertFindData(from, to, Utf16ToUtf8);
}

}  // namespace kilnor
