#include "engine/KilnorPro.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/Notifications.h"
#include "engine/device/CommandLog.h"
#include "engine/device/SenseTexts.h"
#include "engine/image/ElTorito.h"
#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"
#include "engine/platform/Clock.h"
#include "engine/platform/Unicode.h"
#include "engine/write/CDBurner.h"
#include "engine/write/DiscBurn.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {

namespace {

constexpr std::array<std::string_view, 12> kStatusTexts = {
    " IDLE ",        " WRITING ",           " ERASING ",
    " BACKGROUND FORMAT ", " CLOSING TRACK ", " CLOSING DISC ",
    " PREPARING ",   " ABORTING ",          " IMPORTING SESSION ",
    " BURN ERROR: ABORTING ", " VERIFYING ", " GEN. SM. REF ",
};

// Size of a regular file that can be opened for reading; nothing otherwise.
std::optional<std::uint64_t> ReadableFileSize(const std::string& Utf8Path) {
  const std::filesystem::path path(Utf8ToUtf16(Utf8Path));
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  if (!std::ifstream(path, std::ios::binary)) return std::nullopt;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  return size;
}

template <std::size_t N, class Char>
void CopyTerminated(Char (&Field)[N], std::basic_string_view<Char> Text) {
  const std::size_t length = std::min(Text.size(), N - 1);
  std::fill(std::begin(Field), std::end(Field), Char{});
  std::copy_n(Text.data(), length, Field);
}

template <std::size_t N, class Char>
std::basic_string<Char> TerminatedText(const Char (&Field)[N]) {
  return std::basic_string<Char>(Field, std::find(Field, Field + N, Char{}));
}

}  // namespace

std::string StatusText(std::uint16_t Status) {
  return Status < kStatusTexts.size() ? std::string(kStatusTexts[Status]) : std::string();
}

TKilnorPro::TKilnorPro(void* AOwner) {
  SetBurnProof(true);
  SetTestWrite(false);
  SetFinalizeDisc(false);
  SetReplaceFile(false);
  SetCacheSize(kDefaultCacheSizeMB);
  SetJolietFileSystem(true);
  SetUDFBridge(false);
  if (AOwner) {
    queue_ = std::make_unique<TNotificationQueue>();
    CDFiles.hWNDFE = queue_.get();
    Device.hWNDFE = queue_.get();
#ifdef _WIN32
    // An owner that runs a message loop gets the completions through the
    // queue's hidden window, on its own thread.
    queue_->SetWindowDrain([this] { DrainNotifications(); });
#endif
  }
  Device.CloseFH = true;
}

TKilnorPro::~TKilnorPro() {
  CDFiles.Aborted = true;
  Workers.StopAndJoinAll();
  CloseDevice(Device);
}

std::string TKilnorPro::VolumeID() const { return TerminatedText(CDFiles.VolumeLabel); }

void TKilnorPro::SetVolumeID(std::string_view Value) { SetVolumeIDW(Utf8ToUtf16(Value)); }

std::u16string TKilnorPro::VolumeIDW() const { return TerminatedText(CDFiles.VolumeLabelW); }

void TKilnorPro::SetVolumeIDW(std::u16string_view Value) {
  Value = Value.substr(0, Value.find(u'\0'));
  const std::u16string_view label = Value.substr(0, Utf16PrefixLength(Value, kMaxVolumeLabelChars));
  if (label == VolumeIDW() || !NoWriteRunning(CDFiles)) return;
  CopyTerminated(CDFiles.VolumeLabelW, label);
  CopyTerminated(CDFiles.VolumeLabel, std::string_view(Utf16ToUtf8(label)));
}

void TKilnorPro::SetCacheSize(std::uint32_t Megabytes) {
  ChangeSetting(CDFiles.CacheSize, std::clamp(Megabytes, kMinCacheSizeMB, kMaxCacheSizeMB) << 20);
}

std::string TKilnorPro::Version() {
  return EngineVersion();
}

void TKilnorPro::SetBootImage(const std::string& Value) {
  if (Value.empty() || !NoWriteRunning(CDFiles)) return;
  const auto size = ReadableFileSize(Value);
  if (!size || !BootMediaOfSize(static_cast<std::int64_t>(*size))) return;
  // Checked just now; a file that vanishes in between leaves no boot image.
  static_cast<void>(SetBootImageFile(CDFiles, Value));
}

std::uint32_t TKilnorPro::ErrorNumber() { return TakeErrorNumber(CDFiles, Device); }

std::string TKilnorPro::ErrorString() { return TakeErrorString(CDFiles, Device); }

std::u16string TKilnorPro::ErrorStringW() { return TakeErrorStringW(CDFiles, Device); }

std::string TKilnorPro::ErrorCause() { return FileErrorCause(CDFiles); }

std::string TKilnorPro::ErrorDescription() {
  // The engine hands out its own error before the drive's. A drive code gets
  // its sense beside it, with the key when it is the drive's last failure;
  // a file error gets its cause. Both are read before the text consumes the
  // error they belong to.
  const std::uint32_t engine = CDFiles.ErrorNumber;
  const std::uint32_t code = engine == erNone ? Device.DeviceError.load() : engine;
  const bool keyKnown = code == Device.DeviceError;
  const std::uint8_t key = Device.DeviceErrorKey;
  const std::string cause = ErrorCause();
  std::string text = ErrorString();
  // Numbers above erAborted and within 16 bits are a drive's additional
  // sense code and qualifier, recorded by the operation the drive failed.
  const bool driveCode = code > erAborted && code <= 0xFFFF;
  if (driveCode && keyKnown)
    text += " (" + SenseDescription(key, static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)) + ")";
  else if (!cause.empty())
    text += " (" + cause + ")";
  return text;
}

std::uint32_t TKilnorPro::CachePosition() const {
  return static_cast<std::uint32_t>(CDFiles.PacketCount.load()) * kPacketBytes;
}

void TKilnorPro::AbortOperation() {
  CDFiles.ErrorNumber = erAborted;
  CDFiles.ComponentStatus = stAborting;
  CDFiles.Aborted = true;
}

std::uint32_t TKilnorPro::Prepare() { return kilnor::Prepare(CDFiles); }

bool TKilnorPro::BuildISOImage(std::string_view FileName) { return BuildISOImageW(Utf8ToUtf16(FileName)); }

bool TKilnorPro::BuildISOImageW(std::u16string_view FileName) {
  return kilnor::BuildISOImage(CDFiles, FileName, Workers, this, FOnWriteDone);
}

bool TKilnorPro::Burn() { return kilnor::Burn(CDFiles, Device, Workers, this, FOnWriteDone); }

bool TKilnorPro::BurnISOImage(std::string_view FileName) { return BurnISOImageW(Utf8ToUtf16(FileName)); }

bool TKilnorPro::BurnISOImageW(std::u16string_view FileName) {
  return kilnor::BurnISOImage(CDFiles, Device, FileName, Workers, this, FOnWriteDone);
}

bool TKilnorPro::InitializeASPI(bool NoInternalASPI, const std::string& ASPIDLLPath,
                                const std::string& Reserved1) {
  return kilnor::InitializeASPI(Device, NoInternalASPI, ASPIDLLPath, Reserved1);
}

std::string TKilnorPro::GetDeviceName(std::uint8_t DeviceIndex) const {
  return kilnor::GetDeviceName(Device, DeviceIndex);
}

bool TKilnorPro::SelectDevice(std::uint8_t DeviceIndex) {
  return kilnor::SelectDevice(Device, DeviceIndex);
}

bool TKilnorPro::SelectDeviceByLetter(char DriveLetter) {
  return kilnor::SelectDeviceByLetter(Device, DriveLetter);
}

void TKilnorPro::ClearAll() { kilnor::ClearAll(CDFiles); }

pDirEntry TKilnorPro::CreateDir(std::string_view DestPath, std::string_view DirName) {
  return kilnor::CreateDir(CDFiles, DestPath, DirName);
}

pDirEntry TKilnorPro::CreateDirW(std::u16string_view DestPath, std::u16string_view DirName) {
  return kilnor::CreateDirW(CDFiles, DestPath, DirName);
}

pFileEntry TKilnorPro::InsertFile(std::string_view DestPath, std::string_view FileName) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertFile(CDFiles, DestPath, FileName);
}

pFileEntry TKilnorPro::InsertFileW(std::u16string_view DestPath, std::u16string_view FileName) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertFileW(CDFiles, DestPath, FileName);
}

pFileEntry TKilnorPro::InsertFileWithName(std::string_view DestPath, std::string_view FileName,
                                          std::string_view LongNameOnDisc,
                                          std::string_view ShortNameOnDisc) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertFileWithName(CDFiles, DestPath, FileName, LongNameOnDisc, ShortNameOnDisc);
}

pFileEntry TKilnorPro::InsertFileWithNameW(std::u16string_view DestPath,
                                           std::u16string_view FileName,
                                           std::u16string_view LongNameOnDisc,
                                           std::u16string_view ShortNameOnDisc) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertFileWithNameW(CDFiles, DestPath, FileName, LongNameOnDisc, ShortNameOnDisc);
}

pFileEntry TKilnorPro::InsertMemoryFile(std::string_view DestPath,
                                        const TWin32FindDataA& FindFileData,
                                        const TGetDataEvent& OnGetData) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertMemoryFile(CDFiles, DestPath, FindFileData, OnGetData);
}

pFileEntry TKilnorPro::InsertMemoryFileW(std::u16string_view DestPath,
                                         const TWin32FindDataW& FindFileData,
                                         const TGetDataEvent& OnGetData) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertMemoryFileW(CDFiles, DestPath, FindFileData, OnGetData);
}

pDirEntry TKilnorPro::InsertDir(std::string_view DestPath, std::string_view DirPath,
                                std::string_view FileSpecs, bool Recursive, bool SavePath) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertDir(CDFiles, DestPath, DirPath, FileSpecs, Recursive, SavePath);
}

pDirEntry TKilnorPro::InsertDirW(std::u16string_view DestPath, std::u16string_view DirPath,
                                 std::u16string_view FileSpecs, bool Recursive, bool SavePath) {
  CDFiles.cbAddFileEvent = FOnAddFile;
  return kilnor::InsertDirW(CDFiles, DestPath, DirPath, FileSpecs, Recursive, SavePath);
}

std::int64_t TKilnorPro::FindFile(std::string_view Directory, std::string_view FileToFind) const {
  return kilnor::FindFile(CDFiles, Directory, FileToFind);
}

std::string TKilnorPro::LastTreeError() const { return kilnor::LastTreeError(CDFiles); }

const TFileEntry* TKilnorPro::Entry(std::int32_t FileId) const {
  if (FileId < 0 || FileId >= CDFiles.FileCounter()) return nullptr;
  return CDFiles.Files[static_cast<std::size_t>(FileId)].get();
}

std::u16string TKilnorPro::SourcePath(std::int32_t FileId) const {
  const TFileEntry* entry = Entry(FileId);
  return entry ? kilnor::SourcePath(*entry) : std::u16string();
}

std::u16string TKilnorPro::DestinationPath(std::int32_t) const { return {}; }

std::u16string TKilnorPro::FileName(std::int32_t FileId) const {
  const TFileEntry* entry = Entry(FileId);
  return entry ? entry->LongName : std::u16string();
}

std::string TKilnorPro::ShortFileName(std::int32_t FileId) const {
  const TFileEntry* entry = Entry(FileId);
  return entry ? TerminatedText(entry->ShortName) : std::string();
}

std::int64_t TKilnorPro::FileSize(std::int32_t FileId) const {
  const TFileEntry* entry = Entry(FileId);
  return entry ? entry->FileSize : -1;
}

std::int64_t TKilnorPro::FileAddress(std::int32_t FileId) const {
  const TFileEntry* entry = Entry(FileId);
  return entry ? static_cast<std::int64_t>(entry->Address) * 2048 : -1;
}

bool TKilnorPro::IsDirectory(std::int32_t FileId) const {
  const TFileEntry* entry = Entry(FileId);
  return entry && entry->DirRecord != nullptr;
}

std::u16string TKilnorPro::DirName(std::int32_t DirId) const {
  if (DirId < 0 || DirId >= CDFiles.DirCounter()) return {};
  return CDFiles.Dirs[static_cast<std::size_t>(DirId)]->LongName;
}

std::size_t TKilnorPro::DrainNotifications() {
  if (!queue_) return 0;
  return queue_->Drain([this](const TNotification& message) { DeliverNotification(*this, message); });
}

bool TKilnorPro::WaitForNotifications(std::chrono::milliseconds Timeout) {
  if (queue_) return queue_->WaitFor(Timeout);
  Clock().sleep_for(Timeout);
  return false;
}

}  // namespace kilnor
