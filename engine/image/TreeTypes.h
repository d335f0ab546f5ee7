#pragma once
// The compilation record and its entry records: everything that will be
// recorded, plus the layout and progress state that Prepare, the cache thread
// and the write thread share.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/events/Completions.h"
#include "engine/image/NameIndex.h"
#include "engine/image/UDFTypes.h"
#include "engine/platform/FindData.h"

namespace kilnor {

class TNotificationQueue;
struct TFileEntry;
struct TDirEntry;
using pFileEntry = TFileEntry*;
using pDirEntry = TDirEntry*;

// Handlers are bound methods; an empty std::function is "unassigned".
using TAddFileEvent =
    std::function<void(void* Sender, const char16_t* Path, TWin32FindDataW& fd, bool& Skip)>;
using TGetDataEvent = std::function<void(void* Sender, pFileEntry FileEntry, std::uint32_t Position,
                                         void* Buffer, std::uint32_t& Size)>;
// A data handler's position is 32-bit, so a memory file holds less than 4 GiB.
inline constexpr std::uint64_t kMaxMemoryFileBytes = std::uint64_t{1} << 32;

// Table capacities of the compilation.
inline constexpr std::size_t kMaxFileEntries = 200000;
inline constexpr std::size_t kMaxDirEntries = 65000;
// Longest long name an entry may carry; longer ones are skipped.
inline constexpr std::size_t kMaxLongNameChars = 217;
inline constexpr std::size_t kShortNameBytes = 16;

// One object behind a pointer, made when first edited and copied with its
// owner, so that what few entries use costs the others one pointer.
template <class T>
class TOnDemand {
 public:
  TOnDemand() = default;
  TOnDemand(const TOnDemand& other) : value_(Copy(other)) {}
  TOnDemand& operator=(const TOnDemand& other) {
    if (this != &other) value_ = Copy(other);
    return *this;
  }
  TOnDemand(TOnDemand&&) noexcept = default;
  TOnDemand& operator=(TOnDemand&&) noexcept = default;

  [[nodiscard]] explicit operator bool() const { return value_ != nullptr; }
  // Equal when what they give is: none made equals an empty one.
  friend bool operator==(const TOnDemand& a, const TOnDemand& b) { return a.get() == b.get(); }
  // The object, or an empty one when none was made.
  [[nodiscard]] const T& get() const {
    static const T kNone{};
    return value_ ? *value_ : kNone;
  }
  [[nodiscard]] T& edit() {
    if (!value_) value_ = std::make_unique<T>();
    return *value_;
  }

 private:
  static std::unique_ptr<T> Copy(const TOnDemand& other) {
    return other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
  }
  std::unique_ptr<T> value_;
};

// What few POSIX items carry beyond their attributes.
struct TPosixNames {
  std::string Name;                // the name's exact bytes; empty: LongName in UTF-8
  std::string LinkTarget;          // a symbolic link's target as stored; empty otherwise
  bool operator==(const TPosixNames&) const = default;
};

// An item's POSIX status as the ISO 9660 tree records it in Rock Ridge and
// session import reads it back, with the names few items have.
struct TPosixAttributes : TPosixStatus {
  TOnDemand<TPosixNames> Names;    // made only for the items that have them
  bool operator==(const TPosixAttributes&) const = default;
};

// An entry's POSIX attributes, or none: made once, never changed, and copied
// with the entry. One pointer and one block, without a shared count, since
// every item of a large tree has attributes of its own.
class TPosixAttributesPtr {
 public:
  TPosixAttributesPtr() = default;
  TPosixAttributesPtr(std::nullptr_t) {}
  explicit TPosixAttributesPtr(TPosixAttributes Value)
      : value_(std::make_unique<const TPosixAttributes>(std::move(Value))) {}
  TPosixAttributesPtr(const TPosixAttributesPtr& other)
      : value_(other.value_ ? std::make_unique<const TPosixAttributes>(*other.value_) : nullptr) {}
  TPosixAttributesPtr& operator=(const TPosixAttributesPtr& other) {
    if (this != &other) *this = TPosixAttributesPtr(other);
    return *this;
  }
  TPosixAttributesPtr(TPosixAttributesPtr&&) noexcept = default;
  TPosixAttributesPtr& operator=(TPosixAttributesPtr&&) noexcept = default;

  [[nodiscard]] const TPosixAttributes* get() const { return value_.get(); }
  const TPosixAttributes& operator*() const { return *value_; }
  const TPosixAttributes* operator->() const { return value_.get(); }
  [[nodiscard]] explicit operator bool() const { return value_ != nullptr; }
  void reset() { value_.reset(); }
  friend bool operator==(const TPosixAttributesPtr& p, std::nullptr_t) { return p.value_ == nullptr; }

 private:
  std::unique_ptr<const TPosixAttributes> value_;
};

// The fields of an entry that few entries use.
struct TEntryExtras {
  // The name as first inserted, kept on replacement; empty while it is
  // LongName (WindowsName in Tree.h gives either).
  std::u16string LongNameWIN32;
  std::u16string SourceName;              // see TFileEntry::SourceFolder
  TGetDataEvent mfcbFunction;             // data source of a memory file
  std::string Hash;                       // MD5 digest text, filled on demand
  // The Joliet name Prepare chose when LongName is too long for a record
  // (empty: LongName is recorded as it is).
  std::u16string IdentifierJoliet;
};

struct TFileEntry {
  char ShortName[kShortNameBytes] = {};   // ISO 9660 name, NUL-terminated
  std::u16string LongName;                // on-disc long (Joliet) name
  // The source file, when there is one (none for memory files, directories
  // and imported entries): the folder it was found in, up to and with its
  // last separator, shared by the entries found there, and its name there
  // when that is not LongName (Extras' SourceName). SourcePath (Tree.h)
  // joins them.
  std::shared_ptr<const std::u16string> SourceFolder;
  TSystemTime Time;                       // last-write time of the source, local time
  std::int32_t FileId = 0;
  UDFFileInformation UDFFileInfo;         // UDF bridge layout of the entry
  std::int64_t FileSize = 0;
  std::uint32_t Address = 0;              // session-relative, or absolute when Imported
  bool Imported = false;
  std::uint32_t attributes = 0;
  std::uint8_t FileNameLength = 0;        // bytes of ShortName
  std::uint8_t FileNameLengthJ = 0;       // characters of LongName
  bool Unicode = false;
  bool SourceNameDiffers = false;
  pFileEntry NextFile = nullptr;
  pDirEntry DirRecord = nullptr;          // set for a directory's entry
  pFileEntry ReferenceEntry = nullptr;    // twin whose recorded data this entry shares
  // The ISO 9660 identifier Prepare chose, unique within the directory (the
  // Joliet one is among the extras).
  std::string IdentifierISO;
  TPosixAttributesPtr Posix;              // null: none known (recorded with defaults)
  TOnDemand<TEntryExtras> Extras;
};

struct TDirEntry {
  pDirEntry Parent = nullptr;             // the root's parent is the root
  std::u16string LongName;                // empty for the root
  char ShortName[kShortNameBytes] = {};
  std::int32_t DirSize = 0;
  std::int32_t DirSizeJ = 0;
  std::uint32_t Address = 0;
  std::uint32_t AddressJ = 0;
  std::uint16_t depth = 0;
  std::uint16_t number = 0;
  std::uint8_t DirNameLength = 0;
  std::uint8_t DirNameLengthJ = 0;
  pFileEntry Files = nullptr;             // head of the directory's entry list
  pFileEntry OwnEntry = nullptr;          // the entry naming it in its parent (set by Prepare)
  // The tree's index of this directory's list by LongName, and the list's
  // last entry, so that inserts into a large directory neither walk nor
  // compare the whole list.
  TNameIndex NameIndex;
  pFileEntry LastFile = nullptr;
  UDFDirectoryInformation UDFDirInfo;     // UDF bridge layout of the directory
  // Sectors after the ISO 9660 extent that hold the Rock Ridge continuation
  // areas of its records (set by Prepare).
  std::uint32_t ContinuationSectors = 0;
  std::uint32_t Subdirectories = 0;       // recorded below it (set by Prepare)
};

// An item the tree did not record, and why ("a link to a folder, not
// followed"). Path is the source path when there is one, else the name.
struct TLeftOutItem {
  std::u16string Path;
  std::string Reason;
};

// Activity codes of the component.
enum TComponentStatus : std::uint16_t {
  stIdle = 0,
  stWriting = 1,
  stErasing = 2,
  stBackgroundFormat = 3,
  stClosingTrack = 4,
  stClosingDisc = 5,
  stPreparing = 6,
  stAborting = 7,
  stImportingSession = 8,
  stBurnError = 9,
  stVerifying = 10,
  stSmartReferences = 11,
};

// The switches a layout depends on; Prepare keeps a copy, so a change made
// afterwards is noticed even when the setter did not clear Prepared.
struct TLayoutSwitches {
  bool JolietFS = false;
  bool ISO9660v1999FS = false;
  bool UDFBridge = false;
  std::string BootImage;
  std::int32_t BootImageSize = 0;
  bool RockRidge = false;
  bool RockRidgePublic = false;
  bool operator==(const TLayoutSwitches&) const = default;
};

// The compilation. Fields polled by another thread while an operation runs
// are atomics; everything else belongs to whichever thread runs the operation.
struct TCDFiles {
  std::atomic<bool> Aborted{false};

  // Tables grow as entries arrive, up to their capacities; they own the entries.
  std::vector<std::unique_ptr<TFileEntry>> Files;
  std::vector<std::unique_ptr<TDirEntry>> Dirs;
  std::vector<pDirEntry> PathTableEntries;   // Dirs re-ordered by Prepare
  std::int32_t FileCounter() const { return static_cast<std::int32_t>(Files.size()); }
  std::int32_t DirCounter() const { return static_cast<std::int32_t>(Dirs.size()); }

  pDirEntry RootDir = nullptr;
  TPosixAttributesPtr RootPosix;             // the root folder's own, when known
  std::string TreeError;                     // why the last tree operation gave null or skipped
  std::vector<TLeftOutItem> LeftOut;         // every item not recorded since ClearAll, in order met
  // The source folder of the last entry given one, which the next entry
  // from the same folder shares.
  std::shared_ptr<const std::u16string> RecentSourceFolder;
  char16_t VolumeLabelW[32] = {};
  char VolumeLabel[32 * 4] = {};             // UTF-8 may take up to 4 bytes a character

  bool ReplaceFile = false;
  bool Prepared = false;
  bool JolietFS = true;
  bool UDFBridge = false;
  bool ISO9660FS = true;
  bool ISO9660v1999FS = false;
  // POSIX names, modes, owners, times and symbolic links in the ISO 9660
  // tree. Linux users expect them; Windows readers have no use for them.
#ifdef _WIN32
  bool RockRidge = false;
#else
  bool RockRidge = true;
#endif
  bool RockRidgePublic = false;              // owners 0, modes readable by all
  bool FollowLinks = false;                  // record what links lead to, not the links

  std::atomic<std::uint16_t> ComponentStatus{stIdle};
  // Raised while a write runs: its stream reads the tree and the layout as
  // they stand, so nothing may change them until the write has ended.
  std::atomic<bool> WriteRunning{false};
  std::int32_t TimeZoneDifference = 0;       // 15-minute units east of Greenwich
  TNotificationQueue* hWNDFE = nullptr;      // the component's queue; null = report directly

  std::uint32_t CacheSize = 0;               // bytes of packet cache
  std::atomic<std::uint32_t> ErrorNumber{0};
  std::u16string FileName;                   // the file an error 2 or 3 names; guarded by ErrorLock
  std::string FileErrorCause;                // why that file failed, in the system's words; guarded by ErrorLock
  std::mutex ErrorLock;                      // pairs ErrorNumber with FileName across threads
  std::string BootImage;                     // path of the boot image; empty = none
  std::int32_t BootImageSize = 0;            // bytes of the boot image file

  // Session layout computed by Prepare. Sectors are relative to the start of
  // the session; FirstWritableSector is added to every address written.
  TLayoutSwitches PreparedSwitches;          // what the current layout was computed for
  std::uint32_t FirstWritableSector = 0;
  std::uint32_t VDImageSize = 0;             // existing volume ahead of the session
  std::int32_t Blank = 0;                    // zero sectors padding the header to sector 150
  std::uint32_t PathTableWidth = 0;          // bytes
  std::uint32_t PathTableWidthJ = 0;         // bytes
  std::uint32_t PathTableExtentL = 0;
  std::uint32_t path_table_extent_m = 0;
  std::uint32_t path_table_extent_j_l = 0;
  std::uint32_t path_table_extent_j_m = 0;
  std::uint32_t FileDirDescriptorExtent = 0;
  std::uint32_t FileDirDescriptorWidth = 0;  // sectors
  std::uint32_t file_and_dir_descriptor_extent_j = 0;
  std::uint32_t file_and_dir_descriptor_width_j = 0;
  std::uint32_t BootCatalogLocation = 0;
  std::uint32_t BootImageLocation = 0;
  std::uint32_t HeaderSectors = 0;           // sectors of the header, up to the boot image or data
  std::uint32_t UpFrontSectors = 0;          // of them, the ones GenerateHeader writes
  std::uint32_t FirstDataSector = 0;
  std::uint32_t FilesSize = 0;               // sectors of new file data
  std::uint32_t TotalImageSize = 0;          // sectors of the session, a multiple of 32
  TSystemTime VolumeTime;                    // local time of Prepare, the volume's dates
  UDFBridgeInformation UDFBridgeInfo;        // UDF bridge layout (UDFBridge on)
  std::string PrepareError;                  // why the last Prepare laid nothing out; empty when it did

  // The up-front part of the header (GenerateHeader, UpFrontSectors
  // sectors); IsoHeaderSize is the bytes of the whole header, whose rest is
  // generated while the session streams.
  std::vector<std::uint8_t> isom;
  std::int64_t IsoHeaderSize = 0;

  // Write pipeline: output mode, and progress polled by the owner's timers
  // while the cache and write threads run.
  bool SaveToISOImage = false;
  bool BurnISOImage = false;
  std::u16string ISOFileName;
  std::atomic<std::int32_t> PacketCount{0};     // packets queued in the cache
  std::atomic<std::int32_t> ReadingFile{0};     // FileId the cache thread reads
  std::atomic<std::int32_t> WritingFile{0};     // FileId of the packet being written
  std::atomic<std::uint32_t> BlocksWritten{0};  // sectors written so far
  std::atomic<std::uint32_t> VerifySize{0};     // sectors streamed from files
  std::atomic<std::uint32_t> VerifyProgress{0}; // sectors read back by the verify pass
  std::atomic<std::uint32_t> SmartReferencesSize{0};      // sectors of the candidate files
  std::atomic<std::uint32_t> SmartReferencesProgress{0};  // sectors the pass has dealt with
  std::atomic<std::uint64_t> SmartReferencesSaved{0};     // bytes the references made so far save

  // Handlers copied from the component when an operation starts.
  TAddFileEvent cbAddFileEvent;
  TWriteDoneEvent cbWriteDone;
  TVerifyDoneEvent cbVerifyDone;
  TSmartRefGenDoneEvent cbGenSmRefEvent;
};

}  // namespace kilnor
