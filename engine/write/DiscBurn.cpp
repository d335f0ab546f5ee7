#include "engine/write/DiscBurn.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "engine/device/Speeds.h"
#include "engine/image/ISO9660.h"
#include "engine/platform/Unicode.h"
#include "engine/write/CDBurner.h"
#include "engine/write/DiscSink.h"
#include "engine/write/DiscTarget.h"
#include "engine/write/ErrorTexts.h"
#include "engine/platform/FileIO.h"

namespace kilnor {
namespace {

[[nodiscard]] bool Refuse(TCDFiles& CDFiles, std::uint32_t Number) {
  RecordError(CDFiles, Number);
  return false;
}

// Imported entries keep their recorded extents, which must all lie before
// the new session: the session would overwrite the data they point to.
[[nodiscard]] bool ImportedEntriesLieBefore(const TCDFiles& CDFiles, std::uint32_t Start) {
  return std::all_of(CDFiles.Files.begin(), CDFiles.Files.end(), [&](const std::unique_ptr<TFileEntry>& entry) {
    return !entry->Imported || entry->Address + SectorsOf(static_cast<std::uint64_t>(entry->FileSize)) <= Start;
  });
}

// The stream of an image file: the file from sector 0, padded with zeros to
// whole packets.
[[nodiscard]] TStreamPlan ImageFilePlan(const TCDFiles& CDFiles, std::uint64_t Bytes, std::uint32_t Sectors) {
  TStreamPlan plan;
  TStreamItem item;
  item.Source = TStreamItem::TSource::File;
  item.Size = Bytes;
  item.Path = Utf16ToUtf8(CDFiles.ISOFileName);
  item.Name = CDFiles.ISOFileName;
  plan.Items.push_back(std::move(item));
  plan.TotalSectors = Sectors;
  return plan;
}

[[nodiscard]] bool StartDiscWrite(TCDFiles& CDFiles, TSCSIDevice& Device, TStreamPlan Plan, const TDiscTarget& Target,
                                  TWorkerRegistry& Workers, void* Component, const TWriteDoneEvent& OnWriteDone) {
  // The write thread owns the sink; the device stays the component's.
  auto output = std::make_unique<TDiscSink>(CDFiles, Device, Target);
  return StartWrite(CDFiles, std::move(Plan), std::move(output), Workers, Component, OnWriteDone);
}

}  // namespace

bool Burn(TCDFiles& CDFiles, TSCSIDevice& Device, TWorkerRegistry& Workers, void* Component,
          const TWriteDoneEvent& OnWriteDone) {
  if (!NoWriteRunning(CDFiles)) return false;
  ClearError(CDFiles);
  CDFiles.ISOFileName.clear();
  CDFiles.SaveToISOImage = false;
  CDFiles.BurnISOImage = false;
  if (!LayoutIsCurrent(CDFiles)) return Refuse(CDFiles, erNotPrepared);
  ResetSpeedMeters(Device);
  TDiscTarget target;
  if (!FindDiscTarget(CDFiles, Device, CDFiles.TotalImageSize, false, target)) return false;
  if (!ImportedEntriesLieBefore(CDFiles, target.Start)) return Refuse(CDFiles, erImportedAfterStart);
  CDFiles.FirstWritableSector = target.Start;
  CDFiles.VDImageSize = target.VolumeSize;
  if (!GenerateHeader(CDFiles)) return Refuse(CDFiles, erNotPrepared);
  TStreamPlan plan;
  if (!PlanSessionStream(CDFiles, plan)) return false;
  return StartDiscWrite(CDFiles, Device, std::move(plan), target, Workers, Component, OnWriteDone);
}

bool BurnISOImage(TCDFiles& CDFiles, TSCSIDevice& Device, std::u16string_view FileName, TWorkerRegistry& Workers,
                  void* Component, const TWriteDoneEvent& OnWriteDone) {
  if (!NoWriteRunning(CDFiles)) return false;
  ClearError(CDFiles);
  if (FileName.size() > kMaxISOFileNameChars) return Refuse(CDFiles, erFileNameTooLong);
  CDFiles.ISOFileName.assign(FileName);
  CDFiles.SaveToISOImage = false;
  CDFiles.BurnISOImage = true;
  // The image replaces the compilation's session size: its layout must be
  // prepared again before it is written.
  CDFiles.Prepared = false;
  CDFiles.TotalImageSize = 0;
  const TFile file = TFile::OpenForReading(Utf16ToUtf8(CDFiles.ISOFileName));
  const std::int64_t bytes = file.IsOpen() ? file.Size() : -1;
  const std::uint64_t sectors = bytes < 0 ? 0 : SectorsOf(static_cast<std::uint64_t>(bytes));
  const std::uint64_t packets = (sectors + kPacketSectors - 1) / kPacketSectors;
  if (bytes <= 0 || packets * kPacketSectors > std::numeric_limits<std::uint32_t>::max()) {
    RecordFileError(CDFiles, erFileOpen, CDFiles.ISOFileName);
    return false;
  }
  CDFiles.TotalImageSize = static_cast<std::uint32_t>(packets * kPacketSectors);
  CDFiles.FirstWritableSector = 0;
  CDFiles.VDImageSize = 0;
  ResetSpeedMeters(Device);
  TDiscTarget target;
  if (!FindDiscTarget(CDFiles, Device, CDFiles.TotalImageSize, true, target)) return false;
  TStreamPlan plan = ImageFilePlan(CDFiles, static_cast<std::uint64_t>(bytes), CDFiles.TotalImageSize);
  return StartDiscWrite(CDFiles, Device, std::move(plan), target, Workers, Component, OnWriteDone);
}

}  // namespace kilnor
