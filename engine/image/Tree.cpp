#include "engine/image/Tree.h"

#include <filesystem>
#include <vector>

#include "engine/image/PosixSource.h"
#include "engine/image/SysUtilsW.h"
#include "engine/platform/FileSearch.h"
#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

TFileEntry gSkippedEntrySentinel;
TDirEntry gSkippedDirSentinel;

#ifdef _WIN32
constexpr char16_t kSourceSeparator = u'\\';
#else
constexpr char16_t kSourceSeparator = u'/';
#endif

constexpr std::size_t kFallbackShortNameChars = 12;
constexpr std::size_t kCreatedDirShortNameChars = 11;
constexpr std::size_t kDirShortNameBytes = 12;
constexpr char kRootShortName[] = "ROOT_DIR";
constexpr char kUnconvertibleDirShortName[] = "________.___";
constexpr char kNameTooLong[] = "name longer than 217 characters";
// Rock Ridge records a POSIX name of up to 255 bytes whole.
constexpr std::size_t kMaxPosixNameBytes = 255;

enum class TEntryKind : std::uint8_t { File, Directory };

// What the OnAddFile handler and the name rules make of an item.
enum class TOffer : std::uint8_t { Accepted, Skipped, Refused };

// What became of an item offered to the tree.
enum class TOutcome : std::uint8_t { Created, Replaced, Existing, Skipped, Refused };

struct TAddResult {
  TOutcome outcome;
  pFileEntry entry;
};

bool IsCompilationSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

std::string Quoted(std::u16string_view text) { return "\"" + Utf16ToUtf8(text) + "\""; }

void Fail(TCDFiles& cd, std::string reason) { cd.TreeError = std::move(reason); }

// Keeps an item that is not recorded, with its reason, for the caller to name.
void LeaveOut(TCDFiles& cd, std::u16string_view item, std::string reason) {
  cd.LeftOut.push_back({std::u16string(item), reason});
  Fail(cd, "left out, " + reason + ": " + Quoted(item));
}

// The components of a compilation path, separators of either kind ignored
// wherever they stand.
std::vector<std::u16string_view> SplitCompilationPath(std::u16string_view path) {
  std::vector<std::u16string_view> components;
  std::size_t start = 0;
  while (start < path.size()) {
    while (start < path.size() && IsCompilationSeparator(path[start])) ++start;
    std::size_t end = start;
    while (end < path.size() && !IsCompilationSeparator(path[end])) ++end;
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end;
  }
  return components;
}

[[nodiscard]] bool CheckEntryName(TCDFiles& cd, std::u16string_view name) {
  if (name.empty()) {
    Fail(cd, "an entry needs a name");
  } else if (name.find_first_of(u"\\/") != std::u16string_view::npos) {
    Fail(cd, "a name cannot hold a path separator: " + Quoted(name));
  } else if (name == u"." || name == u"..") {
    Fail(cd, "the names . and .. are reserved");
  } else {
    return true;
  }
  return false;
}

// The entry an item of this name would take the place of in the directory.
[[nodiscard]] pFileEntry EntryOfSameName(pDirEntry directory, std::u16string_view name) {
  pFileEntry found = nullptr;
  directory->NameIndex.ForEachCandidate(TextHashW(name), [&](pFileEntry candidate) {
    if (SameNameW(candidate->LongName, name)) found = candidate;
    return found != nullptr;
  });
  return found;
}

// A running write streams the tree as it stands, so it must not change
// under it.
[[nodiscard]] bool TreeMayChange(TCDFiles& cd) {
  if (!cd.WriteRunning) return true;
  Fail(cd, "the compilation cannot change while a write runs: wait until it has ended");
  return false;
}

// Where an insert goes; every insert by path starts here.
[[nodiscard]] pDirEntry ResolveDestination(TCDFiles& cd, std::u16string_view destPath) {
  if (!TreeMayChange(cd)) return nullptr;
  if (cd.RootDir == nullptr) {
    Fail(cd, "the compilation has no root yet: ClearAll first");
    return nullptr;
  }
  const pDirEntry destination = LookupDir(cd, destPath);
  if (destination == nullptr) Fail(cd, "no directory " + Quoted(destPath) + " in the compilation");
  return destination;
}

// Gives the OnAddFile handler its say, then checks the name it leaves.
[[nodiscard]] TOffer OfferToHandler(TCDFiles& cd, TWin32FindDataW& fd, const char16_t* path) {
  if (cd.cbAddFileEvent) {
    bool skip = false;
    cd.cbAddFileEvent(nullptr, path, fd, skip);
    if (skip) {
      LeaveOut(cd, path != nullptr ? path : FieldText(fd.cFileName), "skipped by the OnAddFile handler");
      return TOffer::Skipped;
    }
  }
  const std::u16string_view name = FieldText(fd.cFileName);
  if (name.size() > kMaxLongNameChars && !(cd.RockRidge && Utf16ToUtf8(name).size() <= kMaxPosixNameBytes)) {
    LeaveOut(cd, path != nullptr ? path : name, kNameTooLong);
    return TOffer::Skipped;
  }
  return CheckEntryName(cd, name) ? TOffer::Accepted : TOffer::Refused;
}

[[nodiscard]] bool HasRoomFor(TCDFiles& cd, std::size_t files, std::size_t dirs) {
  if (cd.Files.size() + files > kMaxFileEntries) {
    Fail(cd, "the compilation is full: it holds at most 200000 entries");
    return false;
  }
  if (cd.Dirs.size() + dirs > kMaxDirEntries) {
    Fail(cd, "the compilation is full: it holds at most 65000 directories");
    return false;
  }
  return true;
}

pDirEntry NewDirEntry(TCDFiles& cd) {
  cd.Dirs.push_back(std::make_unique<TDirEntry>());
  const pDirEntry dir = cd.Dirs.back().get();
  cd.PathTableEntries.push_back(dir);
  cd.Prepared = false;
  return dir;
}

// Appends a new entry named `name` to the directory's list and index.
pFileEntry NewFileEntry(TCDFiles& cd, pDirEntry directory, std::u16string_view name) {
  cd.Files.push_back(std::make_unique<TFileEntry>());
  const pFileEntry entry = cd.Files.back().get();
  entry->FileId = static_cast<std::int32_t>(cd.Files.size() - 1);
  cd.Prepared = false;
  // Prepare may re-order the list; the remembered last entry is still in it,
  // so the walk from there to the real end stays short.
  pFileEntry last = directory->LastFile != nullptr ? directory->LastFile : directory->Files;
  while (last != nullptr && last->NextFile != nullptr) last = last->NextFile;
  (last != nullptr ? last->NextFile : directory->Files) = entry;
  directory->LastFile = entry;
  directory->NameIndex.Add(entry, TextHashW(name));
  return entry;
}

// Entries that shared the replaced entry's old data go back to their own
// sources, which they keep for this. Only an entry with a digest can have
// been shared, so other replacements walk nothing.
void ForgetReferencesTo(TCDFiles& cd, const TFileEntry& owner) {
  if (owner.Extras.get().Hash.empty()) return;
  for (const auto& e : cd.Files) {
    if (e->ReferenceEntry == &owner) e->ReferenceEntry = nullptr;
  }
}

void ResetForReplacement(TCDFiles& cd, TFileEntry& entry) {
  ForgetReferencesTo(cd, entry);
  entry.ReferenceEntry = nullptr;
  entry.IdentifierISO.clear();
  if (entry.Extras) {
    TEntryExtras& extras = entry.Extras.edit();
    extras.Hash.clear();
    extras.mfcbFunction = nullptr;
    extras.IdentifierJoliet.clear();
  }
  entry.Posix.reset();
  cd.Prepared = false;
}

// The short name as recorded: upper-cased, in UTF-8, cut at a character
// boundary so that it fits its field; a file name without a dot gets one.
void StoreFileShortName(TFileEntry& entry, std::u16string_view name, std::u16string_view alias,
                        TEntryKind kind) {
  const std::u16string_view shortName =
      alias.empty() ? name.substr(0, Utf16PrefixLength(name, kFallbackShortNameChars)) : alias;
  std::string bytes = Utf16ToUtf8(UpperCaseW(shortName));
  bytes.resize(Utf8PrefixLength(bytes, kShortNameBytes - 1));
  if (kind == TEntryKind::File && bytes.find('.') == std::string::npos) {
    bytes.resize(Utf8PrefixLength(bytes, kShortNameBytes - 2));
    bytes.push_back('.');
  }
  (void)CopyToField(entry.ShortName, std::string_view(bytes));
  entry.FileNameLength = static_cast<std::uint8_t>(bytes.size());
}

// Where a source path's folder ends: after its last separator.
std::size_t FolderLength(std::u16string_view path) {
#ifdef _WIN32
  const std::size_t last = path.find_last_of(u"\\/");
#else
  const std::size_t last = path.find_last_of(kSourceSeparator);
#endif
  return last == std::u16string_view::npos ? 0 : last + 1;
}

void FillEntry(TCDFiles& cd, TFileEntry& entry, const TWin32FindDataW& fd, TEntryKind kind, bool unicode,
               std::uint32_t address, std::optional<std::u16string_view> path) {
  const std::u16string_view name = FieldText(fd.cFileName);
  entry.FileNameLengthJ = static_cast<std::uint8_t>(name.size());
  StoreFileShortName(entry, name, FieldText(fd.cAlternateFileName), kind);
  entry.Time = LocalCalendarOfFileTime(fd.ftLastWriteTime);
  entry.FileSize = static_cast<std::int64_t>((std::uint64_t{fd.nFileSizeHigh} << 32) | fd.nFileSizeLow);
  const std::u16string source = SourcePath(entry);
  if (entry.Extras.get().LongNameWIN32.empty() && !entry.LongName.empty() && entry.LongName != name) {
    entry.Extras.edit().LongNameWIN32 = entry.LongName;
  }
  entry.LongName = name;
  if (!path) {
    SetSourcePath(entry, {});
  } else {
    SetSourcePath(entry, path->empty() ? std::u16string_view(source) : *path, cd.RecentSourceFolder);
    if (entry.SourceFolder != nullptr) cd.RecentSourceFolder = entry.SourceFolder;
  }
  entry.Unicode = unicode;
  entry.Address = address;
  entry.Imported = address != 0;
  entry.attributes = kind == TEntryKind::Directory ? (fd.dwFileAttributes | kAttributeDirectory)
                                                   : (fd.dwFileAttributes & ~kAttributeDirectory);
}

[[nodiscard]] TAddResult AddFileEntry(TCDFiles& cd, pDirEntry directory, TWin32FindDataW fd,
                                      bool unicode, std::uint32_t address,
                                      std::optional<std::u16string_view> path) {
  const std::u16string pathText(path.value_or(std::u16string_view()));
  const TOffer offer = OfferToHandler(cd, fd, path ? pathText.c_str() : nullptr);
  if (offer == TOffer::Skipped) return {TOutcome::Skipped, nullptr};
  if (offer == TOffer::Refused) return {TOutcome::Refused, nullptr};
  const std::u16string_view name = FieldText(fd.cFileName);
  pFileEntry entry = EntryOfSameName(directory, name);
  TOutcome outcome = TOutcome::Created;
  if (entry != nullptr) {
    if (entry->DirRecord != nullptr) {
      Fail(cd, "a directory of that name is there already: " + Quoted(name));
      return {TOutcome::Refused, nullptr};
    }
    if (!cd.ReplaceFile) {
      LeaveOut(cd, path && !path->empty() ? *path : name, "a file named " + Quoted(entry->LongName) +
                                                              " is in its folder of the compilation already");
      return {TOutcome::Existing, entry};
    }
    ResetForReplacement(cd, *entry);
    outcome = TOutcome::Replaced;
  } else {
    if (!HasRoomFor(cd, 1, 0)) return {TOutcome::Refused, nullptr};
    entry = NewFileEntry(cd, directory, name);
  }
  FillEntry(cd, *entry, fd, TEntryKind::File, unicode, address, path);
  return {outcome, entry};
}

pFileEntry ResultOf(const TAddResult& result) {
  switch (result.outcome) {
    case TOutcome::Skipped:
      return kSkippedEntry;
    case TOutcome::Refused:
      return nullptr;
    default:
      return result.entry;
  }
}

void StoreDirNames(TDirEntry& dir, std::u16string_view name, std::u16string_view alias) {
  std::string bytes;
  if (!alias.empty()) {
    bytes = Utf16ToUtf8(alias);
    bytes.resize(Utf8PrefixLength(bytes, kShortNameBytes - 1));
  } else {
    bytes = Utf16ToUtf8(name.substr(0, Utf16PrefixLength(name, kFallbackShortNameChars)));
    bytes.resize(Utf8PrefixLength(bytes, kDirShortNameBytes));
    if (bytes.empty()) bytes = kUnconvertibleDirShortName;
  }
  (void)CopyToField(dir.ShortName, std::string_view(bytes));
  UpperCaseAsciiInPlace(dir.ShortName, bytes.size());
  dir.DirNameLength = static_cast<std::uint8_t>(bytes.size());
  dir.DirNameLengthJ = static_cast<std::uint8_t>(name.size());
  dir.LongName = name;
}

[[nodiscard]] bool MakeDirFindData(TCDFiles& cd, std::u16string_view dirName, TWin32FindDataW& fd) {
  fd = TWin32FindDataW{};
  fd.dwFileAttributes = kAttributeDirectory;
  fd.ftLastWriteTime = CurrentFileTime();
  if (!CopyToField(fd.cFileName, dirName)) {
    LeaveOut(cd, dirName, kNameTooLong);
    return false;
  }
  (void)CopyToField(fd.cAlternateFileName,
                    dirName.substr(0, Utf16PrefixLength(dirName, kCreatedDirShortNameChars)));
  return true;
}

// CreateDir below a directory already resolved; null also for a directory
// left out, which cannot be created this way.
[[nodiscard]] pDirEntry CreateDirIn(TCDFiles& cd, pDirEntry parent, std::u16string_view dirName) {
  TWin32FindDataW fd;
  if (!MakeDirFindData(cd, dirName, fd)) return nullptr;
  const pDirEntry dir = AddSubdirectory(cd, parent, fd);
  return dir == kSkippedDir ? nullptr : dir;
}

// An 8-bit argument as wide text.
std::u16string Wide(std::string_view text) { return Utf8ToUtf16(text); }

// The components of a source folder's path that SavePath recreates.
std::vector<std::u16string> SavedPathComponents(std::u16string_view dirPath) {
  std::u16string relative(dirPath);
#ifdef _WIN32
  // C:\data\x keeps \data\x; \\server\share\data keeps data.
  if (relative.size() > 2 && relative[1] == u':') {
    relative.erase(0, 2);
  } else if (relative.starts_with(u"\\\\")) {
    const std::size_t server = relative.find(u'\\', 2);
    const std::size_t share = server == std::u16string::npos ? server : relative.find(u'\\', server + 1);
    relative = share == std::u16string::npos ? std::u16string() : relative.substr(share + 1);
  }
#else
  // A POSIX folder keeps its absolute path from the file system's root:
  // /home/u/data becomes \home\u\data. A relative path is taken from the
  // working folder, and "." and ".." are resolved by name so that no
  // component of the compilation is called either.
  std::error_code error;
  const std::filesystem::path absolute =
      std::filesystem::absolute(std::filesystem::path(Utf16ToUtf8(dirPath)), error);
  relative = Utf8ToUtf16((error ? std::filesystem::path(Utf16ToUtf8(dirPath)) : absolute)
                             .lexically_normal()
                             .generic_string());
#endif
  std::vector<std::u16string> components;
  for (std::u16string_view component : SplitCompilationPath(relative)) {
    if (component != u"." && component != u"..") components.emplace_back(component);
  }
  return components;
}

[[nodiscard]] pDirEntry EnsureDirPath(TCDFiles& cd, pDirEntry destination,
                                      const std::vector<std::u16string>& components) {
  pDirEntry current = destination;
  for (const std::u16string& component : components) {
    current = CreateDirIn(cd, current, component);
    if (current == nullptr) return nullptr;
  }
  return current;
}

std::u16string JoinSourcePath(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (path.empty() || path.back() != kSourceSeparator) path.push_back(kSourceSeparator);
  path += name;
  return path;
}

bool IsDirectoryItem(const TWin32FindDataW& fd) { return (fd.dwFileAttributes & kAttributeDirectory) != 0; }
bool IsLinkItem(const TWin32FindDataW& fd) { return (fd.dwFileAttributes & kAttributeReparsePoint) != 0; }
bool IsDeviceItem(const TWin32FindDataW& fd) { return (fd.dwFileAttributes & kAttributeDevice) != 0; }

// With Rock Ridge a symbolic link is recorded as the link it is, unless
// links are to be followed.
bool RecordsLinks(const TCDFiles& cd) { return cd.RockRidge && !cd.FollowLinks; }

// Gives an entry made from a source item that item's POSIX attributes, from
// the status the folder search read of it when there is one.
pFileEntry WithPosixAttributes(const TCDFiles& cd, pFileEntry entry, std::u16string_view path,
                               const TItemStatus* known = nullptr) {
  if (cd.RockRidge && entry != nullptr && entry != kSkippedEntry) {
    entry->Posix = PosixAttributesOf(known, path, !RecordsLinks(cd));
  }
  return entry;
}

// A symbolic link as an entry of its own: no data, whatever it leads to.
pFileEntry AddLinkEntry(TCDFiles& cd, pDirEntry destination, const TWin32FindDataW& fd, bool unicode,
                        std::u16string_view path, const TItemStatus* known = nullptr) {
  TWin32FindDataW link = fd;
  link.dwFileAttributes &= ~(kAttributeDirectory | kAttributeDevice);
  link.nFileSizeHigh = link.nFileSizeLow = 0;
  TPosixAttributesPtr posix = PosixAttributesOf(known, path, false);
  if (posix) link.ftLastWriteTime = FileTimeFromUnix(posix->Modify.Seconds, posix->Modify.Nanoseconds);
  const pFileEntry entry = AddEntry(cd, destination, link, unicode, 0, path);
  if (entry != nullptr && entry != kSkippedEntry) entry->Posix = std::move(posix);
  return entry;
}

// Why an item without ordinary data is not recorded.
std::string WithoutDataReason(const TWin32FindDataW& fd) {
  return IsLinkItem(fd) ? "a link that leads to no file or folder"
                        : "neither a file nor a folder (a device, FIFO or socket)";
}

// Opens the listing of a folder; an empty folder is a success with no items.
[[nodiscard]] bool OpenFolder(TCDFiles& cd, TFileSearch& search, std::u16string_view folder,
                              TWin32FindDataW& first, bool& hasItems) {
  hasItems = search.FindFirst(std::u16string_view(JoinSourcePath(folder, u"*")), first);
  if (hasItems) return true;
  if (search.Status() == TSearchStatus::NotFound) {
    TFileSearch self;
    TWin32FindDataW own;
    if (self.FindItem(folder, own) && IsDirectoryItem(own)) return true;
    Fail(cd, "no folder " + Quoted(folder));
    return false;
  }
  Fail(cd, search.ErrorText());
  return false;
}

struct TTreeWalk {
  TCDFiles& cd;
  std::u16string_view fileSpecs;
  bool recursive;
  bool unicode;

  // Subdirectories first, then files, each in the order the search gives.
  [[nodiscard]] bool InsertFolder(pDirEntry destination, std::u16string_view folder,
                                  TFileSearch& search, TWin32FindDataW fd, bool hasItems) {
    if (recursive && hasItems) {
      do {
        if (!IsDirectoryItem(fd)) continue;
        if (IsLinkItem(fd)) {
          if (!RecordsLinks(cd)) {
            LeaveOut(cd, JoinSourcePath(folder, FieldText(fd.cFileName)), "a link to a folder, not followed");
          }
          continue;
        }
        if (!InsertSubfolder(destination, JoinSourcePath(folder, FieldText(fd.cFileName)), fd,
                             search.LastItemStatus())) {
          return false;
        }
      } while (search.FindNext(fd));
      search.Rewind();
      hasItems = search.FindNext(fd);
    }
    for (; hasItems; hasItems = search.FindNext(fd)) {
      const bool link = IsLinkItem(fd) && RecordsLinks(cd);
      if (IsDirectoryItem(fd) && !link) continue;
      const std::u16string_view name = FieldText(fd.cFileName);
      if (!MatchesFileSpec(name, fileSpecs)) continue;
      const std::u16string path = JoinSourcePath(folder, name);
      if (IsDeviceItem(fd) && !link) {
        LeaveOut(cd, path, WithoutDataReason(fd));
        continue;
      }
      const TItemStatus* status = search.LastItemStatus();
      const pFileEntry entry =
          link ? AddLinkEntry(cd, destination, fd, unicode, path, status)
               : WithPosixAttributes(cd, AddEntry(cd, destination, fd, unicode, 0, std::u16string_view(path)),
                                     path, status);
      if (entry == nullptr) return false;
    }
    return true;
  }

  [[nodiscard]] bool InsertSubfolder(pDirEntry parent, const std::u16string& folder,
                                     const TWin32FindDataW& fd, const TItemStatus* status) {
    const pDirEntry dir = AddSubdirectory(cd, parent, fd, folder.c_str());
    if (dir == kSkippedDir) return true;
    if (dir == nullptr) return false;
    if (dir->OwnEntry != nullptr) (void)WithPosixAttributes(cd, dir->OwnEntry, folder, status);
    TFileSearch search;
    TWin32FindDataW first;
    bool hasItems = false;
    if (!OpenFolder(cd, search, folder, first, hasItems)) return false;
    return InsertFolder(dir, folder, search, first, hasItems);
  }
};

std::u16string_view WithoutTrailingSeparator(std::u16string_view path) {
  if (path.size() > 1 && path.back() == kSourceSeparator) path.remove_suffix(1);
  return path;
}

// The folder's content fills the destination, so a destination that has no
// attributes of its own (the root, a directory made by name) takes the folder's.
void TakeFolderAttributes(TCDFiles& cd, TDirEntry& destination, std::u16string_view dirPath) {
  if (!cd.RockRidge || (&destination != cd.RootDir && destination.OwnEntry == nullptr)) return;
  TPosixAttributesPtr& own = &destination == cd.RootDir ? cd.RootPosix : destination.OwnEntry->Posix;
  if (own == nullptr) own = ReadPosixAttributes(dirPath, true);
}

[[nodiscard]] pDirEntry InsertTree(TCDFiles& cd, pDirEntry destination, std::u16string_view dirPath,
                                   bool savePath, bool recursive, std::u16string_view fileSpecs,
                                   bool unicode) {
  dirPath = WithoutTrailingSeparator(dirPath);
  if (dirPath.empty()) {
    Fail(cd, "no folder named");
    return nullptr;
  }
  TFileSearch search;
  TWin32FindDataW first;
  bool hasItems = false;
  if (!OpenFolder(cd, search, dirPath, first, hasItems)) return nullptr;
  if (savePath) {
    destination = EnsureDirPath(cd, destination, SavedPathComponents(dirPath));
    if (destination == nullptr) return nullptr;
  }
  TakeFolderAttributes(cd, *destination, dirPath);
  TTreeWalk walk{cd, fileSpecs.empty() ? std::u16string_view(u"*.*") : fileSpecs, recursive, unicode};
  if (!walk.InsertFolder(destination, dirPath, search, first, hasItems)) return nullptr;
  cd.TreeError.clear();
  return destination;
}

[[nodiscard]] pFileEntry InsertSourceFile(TCDFiles& cd, std::u16string_view destPath,
                                          std::u16string_view fileName, bool unicode,
                                          const std::u16string_view* longName,
                                          std::u16string_view shortName) {
  cd.TreeError.clear();
  TFileSearch search;
  TWin32FindDataW fd;
  if (!search.FindItem(fileName, fd)) {
    Fail(cd, search.ErrorText());
    return nullptr;
  }
  search.Close();
  const bool link = IsLinkItem(fd) && RecordsLinks(cd);
  if (IsDirectoryItem(fd) && !link) {
    Fail(cd, "not an ordinary file: " + Quoted(fileName));
    return nullptr;
  }
  if (IsDeviceItem(fd) && !link) {
    LeaveOut(cd, fileName, WithoutDataReason(fd));
    return nullptr;
  }
  const pDirEntry destination = ResolveDestination(cd, destPath);
  if (destination == nullptr) return nullptr;
  if (longName != nullptr) {
    if (!CopyToField(fd.cAlternateFileName, shortName)) {
      Fail(cd, "a short name holds at most 13 characters: " + Quoted(shortName));
      return nullptr;
    }
    if (!CopyToField(fd.cFileName, *longName)) {
      LeaveOut(cd, fileName, kNameTooLong);
      return kSkippedEntry;
    }
  }
  if (link) return AddLinkEntry(cd, destination, fd, unicode, fileName);
  return WithPosixAttributes(cd, AddEntry(cd, destination, fd, unicode, 0, fileName), fileName);
}

[[nodiscard]] pDirEntry InsertDirFrom(TCDFiles& cd, std::u16string_view destPath,
                                      std::u16string_view dirPath, std::u16string_view fileSpecs,
                                      bool recursive, bool savePath, bool unicode) {
  cd.TreeError.clear();
  const pDirEntry destination = ResolveDestination(cd, destPath);
  if (destination == nullptr) return nullptr;
  return InsertTree(cd, destination, dirPath, savePath, recursive, fileSpecs, unicode);
}

}  // namespace

const pFileEntry kSkippedEntry = &gSkippedEntrySentinel;
const pDirEntry kSkippedDir = &gSkippedDirSentinel;

void ClearAll(TCDFiles& CDFiles) {
  if (!TreeMayChange(CDFiles)) return;
  CDFiles.TimeZoneDifference = UtcOffsetQuarterHours(CurrentFileTime());
  CDFiles.Files.clear();
  CDFiles.Dirs.clear();
  CDFiles.PathTableEntries.clear();
  CDFiles.isom.clear();
  CDFiles.IsoHeaderSize = 0;
  CDFiles.BootImage.clear();
  CDFiles.BootImageSize = 0;
  CDFiles.TreeError.clear();
  CDFiles.LeftOut.clear();
  CDFiles.RootPosix.reset();
  CDFiles.RecentSourceFolder.reset();
  const pDirEntry root = NewDirEntry(CDFiles);
  root->Parent = root;
  (void)CopyToField(root->ShortName, std::string_view(kRootShortName));
  CDFiles.RootDir = root;
}

// The entry of exactly that name when there is one, else the earliest made
// whose name differs only in case.
pFileEntry LookupEntry(pDirEntry Directory, std::u16string_view Name) {
  if (Directory == nullptr) return nullptr;
  pFileEntry exact = nullptr;
  pFileEntry caseless = nullptr;
  Directory->NameIndex.ForEachCandidate(TextHashW(Name), [&](pFileEntry candidate) {
    if (candidate->LongName == Name) {
      exact = candidate;
    } else if (SameTextW(candidate->LongName, Name) && (caseless == nullptr || candidate->FileId < caseless->FileId)) {
      caseless = candidate;
    }
    return exact != nullptr;
  });
  return exact != nullptr ? exact : caseless;
}

pDirEntry LookupDir(const TCDFiles& CDFiles, std::u16string_view Path) {
  pDirEntry current = CDFiles.RootDir;
  for (std::u16string_view component : SplitCompilationPath(Path)) {
    const pFileEntry entry = LookupEntry(current, component);
    if (entry == nullptr || entry->DirRecord == nullptr) return nullptr;
    current = entry->DirRecord;
  }
  return current;
}

std::u16string SourcePath(const TFileEntry& Entry) {
  if (Entry.SourceFolder == nullptr) return {};
  return *Entry.SourceFolder + (Entry.SourceNameDiffers ? Entry.Extras.get().SourceName : Entry.LongName);
}

void SetSourcePath(TFileEntry& Entry, std::u16string_view Path,
                   const std::shared_ptr<const std::u16string>& KnownFolder) {
  if (Entry.SourceNameDiffers) Entry.Extras.edit().SourceName.clear();
  Entry.SourceNameDiffers = false;
  if (Path.empty()) {
    Entry.SourceFolder.reset();
    return;
  }
  const std::size_t folderLength = FolderLength(Path);
  const std::u16string_view folder = Path.substr(0, folderLength);
  const std::u16string_view name = Path.substr(folderLength);
  Entry.SourceFolder = KnownFolder != nullptr && *KnownFolder == folder
                           ? KnownFolder
                           : std::make_shared<const std::u16string>(folder);
  if (name != Entry.LongName) {
    Entry.Extras.edit().SourceName = name;
    Entry.SourceNameDiffers = true;
  }
}

std::u16string DirPathOf(pDirEntry Directory) {
  std::vector<const std::u16string*> names;
  for (pDirEntry dir = Directory; dir != nullptr && dir->Parent != dir; dir = dir->Parent) {
    names.push_back(&dir->LongName);
  }
  std::u16string path = u"\\";
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += **it;
    path += u'\\';
  }
  return path;
}

pFileEntry AddEntry(TCDFiles& CDFiles, pDirEntry Directory, const TWin32FindDataW& fd, bool Unicode,
                    std::uint32_t Address, std::optional<std::u16string_view> Path) {
  if (!TreeMayChange(CDFiles)) return nullptr;
  if (Directory == nullptr) {
    Fail(CDFiles, "no directory to add to");
    return nullptr;
  }
  return ResultOf(AddFileEntry(CDFiles, Directory, fd, Unicode, Address, Path));
}

pDirEntry AddSubdirectory(TCDFiles& CDFiles, pDirEntry Parent, const TWin32FindDataW& fd,
                          const char16_t* SourcePath) {
  if (!TreeMayChange(CDFiles)) return nullptr;
  if (Parent == nullptr) {
    Fail(CDFiles, "no directory to add to");
    return nullptr;
  }
  TWin32FindDataW offered = fd;
  const TOffer offer = OfferToHandler(CDFiles, offered, SourcePath);
  if (offer == TOffer::Skipped) return kSkippedDir;
  if (offer == TOffer::Refused) return nullptr;
  const std::u16string_view name = FieldText(offered.cFileName);
  if (const pFileEntry existing = EntryOfSameName(Parent, name)) {
    if (existing->DirRecord != nullptr) return existing->DirRecord;
    Fail(CDFiles, "a file of that name is there already: " + Quoted(name));
    return nullptr;
  }
  if (!HasRoomFor(CDFiles, 1, 1)) return nullptr;
  const pDirEntry dir = NewDirEntry(CDFiles);
  const pFileEntry entry = NewFileEntry(CDFiles, Parent, name);
  FillEntry(CDFiles, *entry, offered, TEntryKind::Directory, true, 0, std::nullopt);
  entry->DirRecord = dir;
  dir->OwnEntry = entry;
  dir->Parent = Parent;
  StoreDirNames(*dir, name, FieldText(offered.cAlternateFileName));
  return dir;
}

pDirEntry CreateDirW(TCDFiles& CDFiles, std::u16string_view DestPath, std::u16string_view DirName) {
  CDFiles.TreeError.clear();
  const pDirEntry destination = ResolveDestination(CDFiles, DestPath);
  if (destination == nullptr) return nullptr;
  return CreateDirIn(CDFiles, destination, DirName);
}

pDirEntry CreateDir(TCDFiles& CDFiles, std::string_view DestPath, std::string_view DirName) {
  return CreateDirW(CDFiles, Wide(DestPath), Wide(DirName));
}

pFileEntry InsertFileW(TCDFiles& CDFiles, std::u16string_view DestPath, std::u16string_view FileName) {
  return InsertSourceFile(CDFiles, DestPath, FileName, true, nullptr, {});
}

pFileEntry InsertFile(TCDFiles& CDFiles, std::string_view DestPath, std::string_view FileName) {
  return InsertSourceFile(CDFiles, Wide(DestPath), Wide(FileName), false, nullptr, {});
}

pFileEntry InsertFileWithNameW(TCDFiles& CDFiles, std::u16string_view DestPath,
                               std::u16string_view FileName, std::u16string_view LongNameOnDisc,
                               std::u16string_view ShortNameOnDisc) {
  return InsertSourceFile(CDFiles, DestPath, FileName, true, &LongNameOnDisc, ShortNameOnDisc);
}

pFileEntry InsertFileWithName(TCDFiles& CDFiles, std::string_view DestPath, std::string_view FileName,
                              std::string_view LongNameOnDisc, std::string_view ShortNameOnDisc) {
  const std::u16string longName = Wide(LongNameOnDisc);
  const std::u16string_view longNameView = longName;
  return InsertSourceFile(CDFiles, Wide(DestPath), Wide(FileName), false, &longNameView,
                          Wide(ShortNameOnDisc));
}

pFileEntry InsertMemoryFileW(TCDFiles& CDFiles, std::u16string_view DestPath,
                             const TWin32FindDataW& FindFileData, const TGetDataEvent& OnGetData) {
  CDFiles.TreeError.clear();
  const pDirEntry destination = ResolveDestination(CDFiles, DestPath);
  if (destination == nullptr) return nullptr;
  const TAddResult result = AddFileEntry(CDFiles, destination, FindFileData, true, 0, std::nullopt);
  if (result.outcome == TOutcome::Created || result.outcome == TOutcome::Replaced) {
    result.entry->Extras.edit().mfcbFunction = OnGetData;
  }
  return ResultOf(result);
}

pFileEntry InsertMemoryFile(TCDFiles& CDFiles, std::string_view DestPath,
                            const TWin32FindDataA& FindFileData, const TGetDataEvent& OnGetData) {
  TWin32FindDataW wide;
  if (!ToFindDataW(FindFileData, wide)) {
    Fail(CDFiles, "the find data's names do not fit their fields");
    return nullptr;
  }
  return InsertMemoryFileW(CDFiles, Wide(DestPath), wide, OnGetData);
}

pDirEntry InsertDirW(TCDFiles& CDFiles, std::u16string_view DestPath, std::u16string_view DirPath,
                     std::u16string_view FileSpecs, bool Recursive, bool SavePath) {
  return InsertDirFrom(CDFiles, DestPath, DirPath, FileSpecs, Recursive, SavePath, true);
}

pDirEntry InsertDir(TCDFiles& CDFiles, std::string_view DestPath, std::string_view DirPath,
                    std::string_view FileSpecs, bool Recursive, bool SavePath) {
  return InsertDirFrom(CDFiles, Wide(DestPath), Wide(DirPath), Wide(FileSpecs), Recursive, SavePath,
                       false);
}

std::int32_t FindFileW(const TCDFiles& CDFiles, std::u16string_view Directory,
                       std::u16string_view FileToFind) {
  const pFileEntry entry = LookupEntry(LookupDir(CDFiles, Directory), FileToFind);
  return entry != nullptr ? entry->FileId : -1;
}

std::int32_t FindFile(const TCDFiles& CDFiles, std::string_view Directory, std::string_view FileToFind) {
  return FindFileW(CDFiles, Wide(Directory), Wide(FileToFind));
}

const std::string& LastTreeError(const TCDFiles& CDFiles) { return CDFiles.TreeError; }

const std::vector<TLeftOutItem>& LeftOutItems(const TCDFiles& CDFiles) { return CDFiles.LeftOut; }

}  // namespace kilnor
