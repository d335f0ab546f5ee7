#pragma once
// Operations that build and query the compilation tree: directories, files,
// memory files and whole folder trees go in; entries come out by path and
// name. Everything runs on the caller's thread and locks nothing.
//
// Compilation paths ("\", \Docs\2014) are long names from the root, separated
// by '\' or, for convenience, '/'; leading, doubled and trailing separators
// are ignored and components match case-insensitively. Source paths are the
// platform's own paths.
//
// Results: the entry made, replaced or already present; kSkippedEntry (or
// kSkippedDir) when the item was left out on purpose; or null on failure,
// with the reason in LastTreeError. Every insert returns null until the first
// ClearAll has made the root.
//
// While a write runs the compilation cannot change: every operation that
// would change it (ClearAll included) is refused, with the reason in
// LastTreeError.
//
// Every item met but not recorded (skipped, too long a name, a link to a
// folder, an item without ordinary data, a second item of one name) is also
// kept with its reason in LeftOutItems, so that none goes unnoticed.
//
// Names are told apart the way the platform's file names are: exactly on
// systems whose names are case-sensitive, so readme.txt and README.TXT both
// go in, and ignoring case on Windows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/image/TreeTypes.h"

namespace kilnor {

// Stand for an item left out on purpose: the OnAddFile handler set Skip, or
// its long name is longer than kMaxLongNameChars. Nothing was added. They are
// never entries of the tree and must never be dereferenced; walks that meet
// them treat them as success.
extern const pFileEntry kSkippedEntry;
extern const pDirEntry kSkippedDir;

// Empties the compilation and creates the root; reads the time zone offset.
void ClearAll(TCDFiles& CDFiles);

// The new or already existing directory DirName below DestPath. Its short
// name is the first 11 characters of DirName. A directory the OnAddFile
// handler leaves out, or whose name is too long, gives null.
pDirEntry CreateDirW(TCDFiles& CDFiles, std::u16string_view DestPath, std::u16string_view DirName);
pDirEntry CreateDir(TCDFiles& CDFiles, std::string_view DestPath, std::string_view DirName);

// A file without ordinary data (a device, FIFO or socket, a link that leads
// nowhere) gives null and is named among the left-out items.
pFileEntry InsertFileW(TCDFiles& CDFiles, std::u16string_view DestPath, std::u16string_view FileName);
pFileEntry InsertFile(TCDFiles& CDFiles, std::string_view DestPath, std::string_view FileName);

// The entry carries the given names instead of the source's. An empty
// ShortNameOnDisc derives the short name from LongNameOnDisc; one longer than
// 13 characters is refused.
pFileEntry InsertFileWithNameW(TCDFiles& CDFiles, std::u16string_view DestPath,
                               std::u16string_view FileName, std::u16string_view LongNameOnDisc,
                               std::u16string_view ShortNameOnDisc);
pFileEntry InsertFileWithName(TCDFiles& CDFiles, std::string_view DestPath, std::string_view FileName,
                              std::string_view LongNameOnDisc, std::string_view ShortNameOnDisc);

// A file whose data OnGetData supplies; names, size, times and attributes come
// from FindFileData (its directory bit is ignored). The data source is set on
// a new or replaced entry, never on an existing entry left as it was.
pFileEntry InsertMemoryFileW(TCDFiles& CDFiles, std::u16string_view DestPath,
                             const TWin32FindDataW& FindFileData, const TGetDataEvent& OnGetData);
pFileEntry InsertMemoryFile(TCDFiles& CDFiles, std::string_view DestPath,
                            const TWin32FindDataA& FindFileData, const TGetDataEvent& OnGetData);

// Inserts the files of DirPath that match FileSpecs into DestPath, and with
// Recursive every subfolder as a directory of the same name. With SavePath
// the folder's own path is recreated below DestPath first. Symbolic links to
// folders and items without ordinary data are left out; an unreadable folder
// fails the whole insert. Returns the directory that received the content.
pDirEntry InsertDirW(TCDFiles& CDFiles, std::u16string_view DestPath, std::u16string_view DirPath,
                     std::u16string_view FileSpecs, bool Recursive, bool SavePath);
pDirEntry InsertDir(TCDFiles& CDFiles, std::string_view DestPath, std::string_view DirPath,
                    std::string_view FileSpecs, bool Recursive, bool SavePath);

// The core insert of a file entry; every file of the tree, memory files and
// imported entries included, goes through it. Path: nullopt clears the
// entry's source path, an empty one keeps it, any other is stored. A non-zero
// Address marks the entry as imported from an earlier session.
pFileEntry AddEntry(TCDFiles& CDFiles, pDirEntry Directory, const TWin32FindDataW& fd, bool Unicode,
                    std::uint32_t Address, std::optional<std::u16string_view> Path);

// Creates a directory from find data below Parent, or returns the one of that
// name that already exists (so inserting a folder twice merges). SourcePath,
// when given, is what the OnAddFile handler is told.
pDirEntry AddSubdirectory(TCDFiles& CDFiles, pDirEntry Parent, const TWin32FindDataW& fd,
                          const char16_t* SourcePath = nullptr);

// The entry's source file, rebuilt from its folder and name; empty when it
// has none.
[[nodiscard]] std::u16string SourcePath(const TFileEntry& Entry);
[[nodiscard]] inline bool HasSourcePath(const TFileEntry& Entry) { return Entry.SourceFolder != nullptr; }
// Gives the entry the source file Path, sharing KnownFolder when the file lies
// in it; an empty Path leaves it without one.
void SetSourcePath(TFileEntry& Entry, std::u16string_view Path,
                   const std::shared_ptr<const std::u16string>& KnownFolder = nullptr);
// The entry's name as first inserted.
[[nodiscard]] inline std::u16string_view WindowsName(const TFileEntry& Entry) {
  const std::u16string& first = Entry.Extras.get().LongNameWIN32;
  return first.empty() ? std::u16string_view(Entry.LongName) : std::u16string_view(first);
}

[[nodiscard]] pFileEntry LookupEntry(pDirEntry Directory, std::u16string_view Name);
[[nodiscard]] pDirEntry LookupDir(const TCDFiles& CDFiles, std::u16string_view Path);
// "\" for the root, else \Name\...\Name\ .
[[nodiscard]] std::u16string DirPathOf(pDirEntry Directory);

// The file id of the entry named FileToFind in Directory, or -1.
[[nodiscard]] std::int32_t FindFileW(const TCDFiles& CDFiles, std::u16string_view Directory,
                                     std::u16string_view FileToFind);
[[nodiscard]] std::int32_t FindFile(const TCDFiles& CDFiles, std::string_view Directory,
                                    std::string_view FileToFind);

// Why the last tree operation returned null or a skipped marker; empty after
// one that did neither.
[[nodiscard]] const std::string& LastTreeError(const TCDFiles& CDFiles);

// Every item not recorded since the last ClearAll, with its reason.
[[nodiscard]] const std::vector<TLeftOutItem>& LeftOutItems(const TCDFiles& CDFiles);

}  // namespace kilnor
