// The component's session import, image mounting and volume label: each
// finds its session (on the disc in the selected drive, or in an image file)
// and hands it to the session reader.
#include "engine/DiscSectors.h"
#include "engine/KilnorPro.h"
#include "engine/image/ImageFileSectors.h"
#include "engine/image/Tree.h"
#include "engine/image/VolumeScan.h"
#include "engine/platform/Unicode.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

// ComponentStatus is 8 while an import runs and idle after, whatever the way out.
class TImportStatus {
 public:
  explicit TImportStatus(TCDFiles& cd) : cd_(cd) { cd_.ComponentStatus = stImportingSession; }
  ~TImportStatus() { cd_.ComponentStatus = stIdle; }
  TImportStatus(const TImportStatus&) = delete;
  TImportStatus& operator=(const TImportStatus&) = delete;

 private:
  TCDFiles& cd_;
};

pDirEntry DestinationOf(TCDFiles& cd, std::u16string_view destPath) {
  const pDirEntry destination = LookupDir(cd, destPath);
  return destination != nullptr ? destination : cd.RootDir;
}

constexpr char kNoRoot[] = "the compilation has no root yet: ClearAll first";

TImportReport Refused(std::string reason) {
  TImportReport report;
  report.Reason = std::move(reason);
  return report;
}

}  // namespace

bool TKilnorPro::FinishImport(TImportReport Report, bool FromDrive) {
  lastImport_ = std::move(Report);
  if (lastImport_.Imported) return true;
  // A drive that could not read a sector keeps its own sense code as the reason.
  if (!(FromDrive && lastImport_.Unreadable && Device.DeviceError.load() != 0)) {
    Device.DeviceError = 0;
    RecordError(CDFiles, erImportFailed);
  }
  CDFiles.TreeError = lastImport_.Reason;
  return false;
}

std::int32_t TKilnorPro::ImportSessionW(std::uint16_t SessionNo, std::u16string_view DestPath) {
  // The drive and the tree belong to the running write until it ends.
  if (!NoWriteRunning(CDFiles)) return -1;
  const TImportStatus status(CDFiles);
  ClearError(CDFiles);
  Device.DeviceError = 0;
  TImportReport report = Refused(kNoRoot);
  std::optional<TDiscSession> session;
  if (CDFiles.RootDir != nullptr) session = LocateDiscSession(Device, SessionNo, report.Reason);
  if (session) {
    TDiscSectors sectors(Device);
    report = ImportVolume(CDFiles, sectors, session->Place, DestinationOf(CDFiles, DestPath));
  }
  return FinishImport(std::move(report), true) ? session->Number : -1;
}

std::int32_t TKilnorPro::ImportSession(std::uint16_t SessionNo, std::string_view DestPath) {
  return ImportSessionW(SessionNo, Utf8ToUtf16(DestPath));
}

bool TKilnorPro::MountISOImageW(std::u16string_view ISOFileName) {
  if (!NoWriteRunning(CDFiles)) return false;
  const TImportStatus status(CDFiles);
  ClearError(CDFiles);
  if (CDFiles.RootDir == nullptr) return FinishImport(Refused(kNoRoot), false);
  TImageFileSectors image(Utf16ToUtf8(ISOFileName));
  if (!image.IsOpen()) {
    RecordFileError(CDFiles, erFileOpen, ISOFileName);
    return FinishImport(Refused("cannot open the image file " + Utf16ToUtf8(ISOFileName)), false);
  }
  return FinishImport(ImportVolume(CDFiles, image, {0, kImageCandidateSectors, 0}, CDFiles.RootDir), false);
}

bool TKilnorPro::MountISOImage(std::string_view ISOFileName) {
  return MountISOImageW(Utf8ToUtf16(ISOFileName));
}

std::u16string TKilnorPro::ReadVolumeLabelOfDisc(std::uint16_t SessionNo) {
  TImportReport report;
  const std::optional<TDiscSession> session = LocateDiscSession(Device, SessionNo, report.Reason);
  if (session) {
    TDiscSectors sectors(Device);
    const std::optional<TFoundVolume> volume =
        FindVolume(sectors, session->Place.FirstCandidate, session->Place.Candidates, report.Reason);
    if (volume) report.VolumeLabel = volume->Label;
  }
  lastImport_ = std::move(report);
  return lastImport_.VolumeLabel;
}

}  // namespace kilnor
