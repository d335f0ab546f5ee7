#pragma once
// TKilnorPro, the one public object of the disc-burning engine. It holds the
// compilation and the device record by value, the application's event
// handlers, the notification queue through which worker threads report, and
// the worker threads themselves. Almost every operation forwards to the
// compilation tree, the transport, the layout or the write pipeline.
//
// Threads: every method is called on the owner's thread. Worker threads read
// and write CDFiles and Device directly; the status and progress values the
// owner polls are atomics there.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/device/SCSILib.h"
#include "engine/image/ErrorNumbers.h"
#include "engine/image/SessionImport.h"
#include "engine/image/TreeTypes.h"
#include "engine/platform/NotificationQueue.h"
#include "engine/platform/Workers.h"
#include "engine/write/Verify.h"

namespace kilnor {

// The cache size range in megabytes. The packet table holds 10,000 packets
// of 64 KiB, so no larger cache can ever be filled.
inline constexpr std::uint32_t kMinCacheSizeMB = 2;
inline constexpr std::uint32_t kMaxCacheSizeMB = 625;
inline constexpr std::uint32_t kDefaultCacheSizeMB = 32;

// Longest volume label in characters (UTF-16 code units).
inline constexpr std::size_t kMaxVolumeLabelChars = 31;

// The display text of a ComponentStatus value (" IDLE ", " WRITING ", ...);
// empty for a value outside 0..11.
[[nodiscard]] std::string StatusText(std::uint16_t Status);

// The volume label as each file system of a prepared image records it.
struct TRecordedLabels {
  std::string Iso9660;
  std::u16string Joliet;
  std::u16string UDF;
};

class TKilnorPro {
 public:
  // AOwner is the object whose thread takes in the completions: with an
  // owner the component has a notification queue, which that thread drains
  // with DrainNotifications. Without one (null) completion handlers run on
  // the worker threads, with the worker as Sender.
  explicit TKilnorPro(void* AOwner = nullptr);
  // Aborts and joins running workers, then closes the device.
  ~TKilnorPro();
  TKilnorPro(const TKilnorPro&) = delete;
  TKilnorPro& operator=(const TKilnorPro&) = delete;

  // The engine state, public so that operations and the owner's timers reach
  // the fields they poll.
  TCDFiles CDFiles;
  TSCSIDevice Device;

  // --- Configurable properties -------------------------------------------
  // The settings a write reads keep their values while it runs: a change
  // then is refused with error 0x1000B (storing the same value is not one).
  [[nodiscard]] bool BurnProof() const { return Device.BurnProof; }
  void SetBurnProof(bool Value) { ChangeSetting(Device.BurnProof, Value); }
  [[nodiscard]] bool TestWrite() const { return Device.TestWrite; }
  void SetTestWrite(bool Value) { ChangeSetting(Device.TestWrite, Value); }
  [[nodiscard]] bool FinalizeDisc() const { return Device.FinalizeDisc; }
  void SetFinalizeDisc(bool Value) { ChangeSetting(Device.FinalizeDisc, Value); }
  [[nodiscard]] bool ReplaceFile() const { return CDFiles.ReplaceFile; }
  void SetReplaceFile(bool Value) { CDFiles.ReplaceFile = Value; }
  [[nodiscard]] bool JolietFileSystem() const { return CDFiles.JolietFS; }
  void SetJolietFileSystem(bool Value) { ChangeSetting(CDFiles.JolietFS, Value); }
  [[nodiscard]] bool ISO9660v1999FS() const { return CDFiles.ISO9660v1999FS; }
  void SetISO9660v1999FS(bool Value) { ChangeSetting(CDFiles.ISO9660v1999FS, Value); }
  [[nodiscard]] bool UDFBridge() const { return CDFiles.UDFBridge; }
  void SetUDFBridge(bool Value) { ChangeSetting(CDFiles.UDFBridge, Value); }
  // Rock Ridge: POSIX names, modes, owners, times and symbolic links in the
  // ISO 9660 tree. Set before items are inserted: the tree reads them then.
  [[nodiscard]] bool RockRidge() const { return CDFiles.RockRidge; }
  void SetRockRidge(bool Value) { ChangeSetting(CDFiles.RockRidge, Value); }
  // Owners recorded as 0 and modes as readable by all (folders 0555, files
  // 0444, or 0555 when executable).
  [[nodiscard]] bool RockRidgePublic() const { return CDFiles.RockRidgePublic; }
  void SetRockRidgePublic(bool Value) { ChangeSetting(CDFiles.RockRidgePublic, Value); }
  // Symbolic links followed (what they lead to is recorded) instead of
  // recorded as links.
  [[nodiscard]] bool FollowLinks() const { return CDFiles.FollowLinks; }
  void SetFollowLinks(bool Value) { CDFiles.FollowLinks = Value; }

  // The volume label, at most 31 characters; a longer one is cut at a
  // character boundary, and both forms always hold the same label.
  [[nodiscard]] std::string VolumeID() const;
  void SetVolumeID(std::string_view Value);
  [[nodiscard]] std::u16string VolumeIDW() const;
  void SetVolumeIDW(std::u16string_view Value);

  // Megabytes of packet cache, kept within 2..625.
  [[nodiscard]] std::uint32_t CacheSize() const { return CDFiles.CacheSize >> 20; }
  void SetCacheSize(std::uint32_t Megabytes);

  // "0.1.0 (<build date>)".
  [[nodiscard]] static std::string Version();

  // The boot image path. An empty value changes nothing; a file that cannot
  // be read, or whose size is not 2,048 bytes (no emulation) or that of a
  // 1.2, 1.44 or 2.88 MB floppy, is ignored silently.
  [[nodiscard]] std::string BootImage() const { return CDFiles.BootImage; }
  void SetBootImage(const std::string& Value);

  [[nodiscard]] const TAddFileEvent& OnAddFile() const { return FOnAddFile; }
  void SetOnAddFile(TAddFileEvent Handler) { FOnAddFile = std::move(Handler); }
  [[nodiscard]] const TEraseDoneEvent& OnEraseDone() const { return FOnEraseDone; }
  void SetOnEraseDone(TEraseDoneEvent Handler) { FOnEraseDone = std::move(Handler); }
  [[nodiscard]] const TSmartRefGenDoneEvent& OnGenerateSmartReferencesDone() const {
    return FOnSmartRefGenDone;
  }
  void SetOnGenerateSmartReferencesDone(TSmartRefGenDoneEvent Handler) {
    FOnSmartRefGenDone = std::move(Handler);
  }
  [[nodiscard]] const TWriteDoneEvent& OnWriteDone() const { return FOnWriteDone; }
  void SetOnWriteDone(TWriteDoneEvent Handler) { FOnWriteDone = std::move(Handler); }
  [[nodiscard]] const TVerifyDoneEvent& OnVerifyDone() const { return FOnVerifyDone; }
  void SetOnVerifyDone(TVerifyDoneEvent Handler) { FOnVerifyDone = std::move(Handler); }

  // --- Status ------------------------------------------------------------
  [[nodiscard]] std::uint16_t ComponentStatus() const { return CDFiles.ComponentStatus.load(); }
  // The pending error: the engine's own, else the drive's last sense code.
  // Reading consumes it, so a second read gives 0.
  [[nodiscard]] std::uint32_t ErrorNumber();
  [[nodiscard]] std::string ErrorString();
  [[nodiscard]] std::u16string ErrorStringW();
  // Why the file of the last error 2 or 3 failed ("No space left on device",
  // "the file changed size while being read"); empty when that is not known.
  // Reading the error leaves it; the next operation clears it.
  [[nodiscard]] std::string ErrorCause();
  [[nodiscard]] std::uint32_t FileCount() const { return FilesCount(); }
  [[nodiscard]] std::uint32_t DirCount() const { return DirsCount(); }
  [[nodiscard]] std::uint32_t ImageSize() const { return CDFiles.TotalImageSize; }
  // Sectors the running write has recorded, and the bytes waiting in the
  // packet cache.
  [[nodiscard]] std::uint32_t BlocksWritten() const { return CDFiles.BlocksWritten.load(); }
  [[nodiscard]] std::uint32_t CachePosition() const;
  // The pending error as ErrorString gives it (and consuming it alike), with
  // a drive error's sense key, code and qualifier and their meaning, or a
  // file error's cause: "Hardware Error 14850 (sense 2/3A/02: medium not
  // present, tray open)", "Error creating file \out.iso\ (No space left on
  // device)".
  [[nodiscard]] std::string ErrorDescription();

  // Raises the abort flag with error 4 and status 7; running workers notice
  // the flag, finish in their own way and still report their completion.
  void AbortOperation();

  // --- Writing
  // Lays out the session (ISO 9660, Joliet, El Torito, UDF bridge); returns
  // its size in sectors before the rounding to whole packets (ImageSize then
  // holds the rounded size). ComponentStatus is 6 while it runs.
  std::uint32_t Prepare();
  // Why the last Prepare refused the layout; empty when it laid it out.
  [[nodiscard]] std::string PrepareError() const;
  // Writes the prepared compilation to a new ISO image file, the session from
  // sector 0; the end arrives through OnWriteDone. False at once when the
  // compilation is not prepared (error 1, the file untouched), the file cannot
  // be created or is one of the files being recorded (error 3, the file
  // untouched; ErrorCause says which), or the stream ended before the writer
  // could begin. The image appears under FileName only when complete: a
  // failed or aborted write leaves whatever stood there as it was.
  bool BuildISOImage(std::string_view FileName);
  bool BuildISOImageW(std::u16string_view FileName);
  // Records the prepared compilation on the medium in the selected drive as
  // a new session where the disc's next one starts; the end arrives through
  // OnWriteDone. False at once, with the reason in ErrorNumber, when nothing
  // is written: not prepared, a medium that cannot be written (or only
  // really when TestWrite is set), too little free space.
  bool Burn();
  // Records an ISO image file byte for byte from sector 0 of a blank or
  // rewritable medium; false at once as for Burn, or with error 2 when the
  // file cannot be opened.
  bool BurnISOImage(std::string_view FileName);
  bool BurnISOImageW(std::u16string_view FileName);

  // --- Smart references (engine/KilnorProSmartRefs.cpp)
  // Starts the pass that gives files of identical content one extent; the
  // end arrives through OnGenerateSmartReferencesDone with the bytes saved.
  // ComponentStatus is 11 while it runs. Run it before Prepare.
  bool GenerateSmartReferences();
  [[nodiscard]] std::uint32_t SmartReferencesProgress() const { return CDFiles.SmartReferencesProgress.load(); }
  [[nodiscard]] std::uint32_t SmartReferencesSize() const { return CDFiles.SmartReferencesSize.load(); }
  // Bytes saved by the references made so far, in full: the completion
  // event's 32-bit count saturates at 2 GiB.
  [[nodiscard]] std::uint64_t SmartReferencesSavedBytes() const { return CDFiles.SmartReferencesSaved.load(); }

  // --- Verify (engine/KilnorProVerify.cpp)
  // Starts reading every file of the session just written back from the
  // disc and comparing its digest with the source's; an OnVerifyDone for each
  // failed file (for every file checked with FireVerifyEventOnAllFiles) and
  // a final one with FileId -1, failed when any file failed or the verify was
  // aborted. StopOnMismatch ends it at the first failed file. ComponentStatus
  // is 10 while it runs and idle after, however it ends. False at once (error
  // 1) when the compilation's layout is not the one just burned.
  bool VerifyDisc(bool StopOnMismatch, bool FireVerifyEventOnAllFiles);
  // The same for files the caller matched with their copies on the disc
  // (a recorded session checked against its sources); the Source entries
  // must stay in the compilation until the final event.
  bool VerifyFiles(std::vector<TVerifyItem> Items, bool StopOnMismatch, bool FireVerifyEventOnAllFiles);
  // What the last verify found, file by file; complete after its final event.
  [[nodiscard]] const TVerifyReport& LastVerify() const { return lastVerify_; }
  [[nodiscard]] std::uint32_t VerifyProgress() const { return CDFiles.VerifyProgress.load(); }
  [[nodiscard]] std::uint32_t VerifySize() const { return CDFiles.VerifySize.load(); }

  // --- Drives
  // Enumerates the drives and chooses the transport (pass-through, or the
  // ASPI library at ASPIDLLPath); Reserved1 names an enumeration log.
  bool InitializeASPI(bool NoInternalASPI, const std::string& ASPIDLLPath,
                      const std::string& Reserved1);
  [[nodiscard]] std::uint16_t DeviceCount() const { return Device.NoOfDevices; }
  // The description of a drive table entry; empty past the table.
  [[nodiscard]] std::string GetDeviceName(std::uint8_t DeviceIndex) const;
  bool SelectDevice(std::uint8_t DeviceIndex);
  bool SelectDeviceByLetter(char DriveLetter);
  [[nodiscard]] std::uint8_t SelectedDevice() const { return Device.SelectedDevice; }
  // The emulated recorder's library beside the running program.
  [[nodiscard]] static std::string EmulatedRecorderLibrary();
  // Whether the command log asked for at enumeration is open, and why
  // writing it failed since the last call (empty when it did not).
  [[nodiscard]] bool CommandLogOpen() const;
  [[nodiscard]] std::string TakeCommandLogProblem();

  // --- The selected drive and its medium (engine/KilnorProDevice.cpp).
  // Queries that ask the drive send commands: call them while no worker
  // uses the drive.
  // Capability numbers DC_...; 72 opens the command log (kilnorp.elg in the
  // user's state directory), 73 closes it.
  bool DeviceCan(std::uint8_t DeviceCapabilityID);
  bool LockMedium();
  bool UnlockMedium();
  bool UnlockDrive();
  // SYNCHRONIZE CACHE with the immediate bit.
  bool FlushCache();
  bool LoadMedium(bool Immediate);
  bool EjectMedium(bool Immediate);
  [[nodiscard]] bool Erasable();
  [[nodiscard]] bool Writable();
  [[nodiscard]] bool TestUnitReady();
  [[nodiscard]] bool DeviceIsBurner() const;
  [[nodiscard]] std::int32_t SessionsOnDisc();
  [[nodiscard]] TMedium DiscIs();
  [[nodiscard]] std::uint32_t FreeBlocksOnDisc();
  [[nodiscard]] std::uint32_t TotalBlocksOnDisc();
  // What can still be recorded, and where each recorded session lies.
  [[nodiscard]] TDiscState DiscState();
  [[nodiscard]] std::vector<TSessionExtent> RecordedSessions();
  // Whether the disc holds data a first session would overwrite or lose:
  // a recorded session, or on a medium written in place a volume at its
  // start.
  [[nodiscard]] bool DiscHoldsData();
  // "mtDVDPLUSRW", "blank", ...
  [[nodiscard]] static std::string_view MediumName(TMedium Medium);
  [[nodiscard]] static std::string_view DiscStateName(TDiscState State);
  // Starts the erase worker with OnEraseDone as its handler and returns
  // true at once; ComponentStatus is 2 until the worker ends.
  bool EraseDisc(bool Quick);

  // --- Speeds, KB/s. The five queries read the drive's capabilities again.
  [[nodiscard]] std::uint16_t DeviceMaxReadSpeed();
  [[nodiscard]] std::uint16_t DeviceMaxWriteSpeed();
  [[nodiscard]] std::uint16_t MaxWriteSpeed();
  [[nodiscard]] std::uint16_t ReadSpeed();
  [[nodiscard]] std::uint16_t WriteSpeed();
  // 0 = maximum; a speed above 65,535 asks for the maximum as well.
  void SetDeviceSpeed(std::uint32_t ReadSpeed, std::uint32_t WriteSpeed);
  // Momentary meters: each call returns what the previous call measured.
  [[nodiscard]] std::uint16_t BMWriteSpeed();
  [[nodiscard]] std::uint16_t BMReadSpeed();
  [[nodiscard]] std::uint16_t BMAvgWriteSpeed() const;
  [[nodiscard]] std::uint16_t BMAvgReadSpeed() const;
  // Drive buffer length and the bytes waiting in it, as last reported.
  [[nodiscard]] std::uint32_t DeviceBufferSize() const { return Device.DeviceBufferSize; }
  [[nodiscard]] std::uint32_t DeviceBufferPosition() const;
  // Speed factors: 1x of the medium (176.46 CD, 1385 DVD, 4495.5 BD and HD
  // DVD), a factor's speed and a speed's factor, rounded ties to even.
  [[nodiscard]] static double BaseSpeed(TMedium Medium);
  [[nodiscard]] static std::uint32_t SpeedOfFactor(double Factor, TMedium Medium);
  [[nodiscard]] static std::uint32_t FactorOfSpeed(std::uint32_t Speed, TMedium Medium);

  // --- Compilation (each insert first copies OnAddFile for the tree to use)
  // Empties the compilation and makes the root; call it before any insert.
  void ClearAll();
  pDirEntry CreateDir(std::string_view DestPath, std::string_view DirName);
  pDirEntry CreateDirW(std::u16string_view DestPath, std::u16string_view DirName);
  pFileEntry InsertFile(std::string_view DestPath, std::string_view FileName);
  pFileEntry InsertFileW(std::u16string_view DestPath, std::u16string_view FileName);
  pFileEntry InsertFileWithName(std::string_view DestPath, std::string_view FileName,
                                std::string_view LongNameOnDisc, std::string_view ShortNameOnDisc);
  pFileEntry InsertFileWithNameW(std::u16string_view DestPath, std::u16string_view FileName,
                                 std::u16string_view LongNameOnDisc,
                                 std::u16string_view ShortNameOnDisc);
  pFileEntry InsertMemoryFile(std::string_view DestPath, const TWin32FindDataA& FindFileData,
                              const TGetDataEvent& OnGetData);
  pFileEntry InsertMemoryFileW(std::u16string_view DestPath, const TWin32FindDataW& FindFileData,
                               const TGetDataEvent& OnGetData);
  pDirEntry InsertDir(std::string_view DestPath, std::string_view DirPath, std::string_view FileSpecs,
                      bool Recursive, bool SavePath);
  pDirEntry InsertDirW(std::u16string_view DestPath, std::u16string_view DirPath,
                       std::u16string_view FileSpecs, bool Recursive, bool SavePath);
  // The file id of the entry FileToFind in Directory, or -1.
  [[nodiscard]] std::int64_t FindFile(std::string_view Directory, std::string_view FileToFind) const;
  // Why the last tree operation gave null or left an item out.
  [[nodiscard]] std::string LastTreeError() const;
  // Every item met but not recorded since ClearAll (links to folders, links
  // that lead nowhere, devices, FIFOs, sockets, names too long, a second item
  // of one name, items the OnAddFile handler skipped), each with its reason.
  [[nodiscard]] const std::vector<TLeftOutItem>& LeftOutItems() const { return CDFiles.LeftOut; }
  // What CreateDir returns when the OnAddFile handler skipped the folder.
  [[nodiscard]] static bool IsSkippedDir(pDirEntry Dir);

  // --- The compilation's entries and their recorded names
  // (engine/KilnorProNames.cpp). The tree starts at RootDir (null before
  // ClearAll); every entry and folder of it, by id, is in CDFiles.Files and
  // CDFiles.Dirs.
  [[nodiscard]] pDirEntry RootDir() const { return CDFiles.RootDir; }
  // Whether two names are one name on the disc (compared as the tree does).
  [[nodiscard]] static bool SameName(std::u16string_view A, std::u16string_view B);
  // The source file of an entry; empty for imported and memory entries.
  [[nodiscard]] static std::u16string SourcePathOf(const TFileEntry& Entry);
  // A folder's path: "\" for the root, else \Name\...\Name\ .
  [[nodiscard]] static std::u16string PathOf(pDirEntry Dir);
  // After Prepare: the name an entry is recorded under in the Joliet tree,
  // and in the UDF tree when it had to be shortened there (else empty).
  [[nodiscard]] static std::u16string JolietName(const TFileEntry& Entry);
  [[nodiscard]] std::u16string UDFShortenedName(const TFileEntry& Entry) const;
  // After Prepare: the volume label as each tree records it (Joliet and UDF
  // empty when the image has no such tree).
  [[nodiscard]] TRecordedLabels RecordedLabels() const;

  // --- Session import and image mounting (engine/KilnorProImport.cpp).
  // Each reads a recorded ISO 9660 tree (the Joliet one when there is one,
  // else the enhanced, else the primary) and adds it to the compilation as
  // imported entries: files keep their recorded extents and are not written
  // again; the next Prepare records those extents in the new session. An
  // import is all or nothing: on failure the compilation is exactly as it
  // was, the error number says why (erImportFailed, erFileOpen, or the
  // drive's sense code) and LastImport().Reason says it in words.
  // ComponentStatus is 8 while one runs and 0 after it, however it ends.
  //
  // Session SessionNo (0: the last closed session) of the disc in the
  // selected drive, below DestPath (the root when DestPath does not resolve).
  // Returns the session number read, or -1 when nothing was imported.
  std::int32_t ImportSession(std::uint16_t SessionNo, std::string_view DestPath);
  std::int32_t ImportSessionW(std::uint16_t SessionNo, std::u16string_view DestPath);
  // The tree of the ISO image file ISOFileName, below the root. False when
  // nothing was imported (a file that cannot be opened: erFileOpen).
  bool MountISOImage(std::string_view ISOFileName);
  bool MountISOImageW(std::u16string_view ISOFileName);
  // The volume label of session SessionNo (0: the last) of the disc, as the
  // tree import would choose it; empty when there is none (a blank disc).
  [[nodiscard]] std::u16string ReadVolumeLabelOfDisc(std::uint16_t SessionNo);
  // What the last import, mount or label read found: its volume label, the
  // entries read, those left out with their reasons, or why it failed.
  [[nodiscard]] const TImportReport& LastImport() const { return lastImport_; }

  // --- Per-file queries: FileId in 0..FilesCount-1, DirId in 0..DirsCount-1;
  // outside that, empty text, -1 or false.
  [[nodiscard]] std::uint32_t FilesCount() const { return static_cast<std::uint32_t>(CDFiles.FileCounter()); }
  [[nodiscard]] std::uint32_t DirsCount() const { return static_cast<std::uint32_t>(CDFiles.DirCounter()); }
  [[nodiscard]] std::u16string SourcePath(std::int32_t FileId) const;
  // No destination path is kept per entry: always empty.
  [[nodiscard]] std::u16string DestinationPath(std::int32_t FileId) const;
  [[nodiscard]] std::u16string FileName(std::int32_t FileId) const;
  [[nodiscard]] std::string ShortFileName(std::int32_t FileId) const;
  [[nodiscard]] std::int64_t FileSize(std::int32_t FileId) const;
  // Byte offset of the entry's data: its sector times 2,048, in 64 bits.
  [[nodiscard]] std::int64_t FileAddress(std::int32_t FileId) const;
  [[nodiscard]] bool IsDirectory(std::int32_t FileId) const;
  [[nodiscard]] std::u16string DirName(std::int32_t DirId) const;

  // --- Notifications ----------------------------------------------------
  // The queue of a component with an owner (null without): the owner sets
  // its wake callback or polls its descriptor, and calls DrainNotifications.
  [[nodiscard]] TNotificationQueue* Notifications() { return queue_.get(); }
  // Owner thread: fires the completion event of every message posted so far,
  // in posting order. Returns how many messages were taken.
  std::size_t DrainNotifications();
  // Blocks until a completion is pending or the timeout passes (the whole
  // timeout without a queue, where nothing is ever pending).
  bool WaitForNotifications(std::chrono::milliseconds Timeout);

  // The worker threads of the running operations, joined by the destructor.
  TWorkerRegistry Workers;

 private:
  [[nodiscard]] const TFileEntry* Entry(std::int32_t FileId) const;
  // Storing the value a setting has is no change, so it is never refused.
  template <typename T>
  void ChangeSetting(T& Setting, T Value) {
    if (Setting != Value && NoWriteRunning(CDFiles)) Setting = Value;
  }

  // Keeps the report; on failure records the error and the reason.
  [[nodiscard]] bool FinishImport(TImportReport Report, bool FromDrive);

  TImportReport lastImport_;
  TVerifyReport lastVerify_;
  std::unique_ptr<TNotificationQueue> queue_;
  TAddFileEvent FOnAddFile;
  TEraseDoneEvent FOnEraseDone;
  TSmartRefGenDoneEvent FOnSmartRefGenDone;
  TWriteDoneEvent FOnWriteDone;
  TVerifyDoneEvent FOnVerifyDone;
};

}  // namespace kilnor
