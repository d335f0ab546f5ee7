// The component's view of the compilation's entries and the names they are
// recorded under, for front ends that list or check them.
#include "engine/KilnorPro.h"
#include "engine/image/Identifiers.h"
#include "engine/image/SysUtilsW.h"
#include "engine/image/Tree.h"
#include "engine/image/UDFUnicode.h"
#include "engine/image/VolumeDescriptors.h"
#include "engine/platform/Unicode.h"

namespace kilnor {

bool TKilnorPro::IsSkippedDir(pDirEntry Dir) { return Dir == kSkippedDir; }

bool TKilnorPro::SameName(std::u16string_view A, std::u16string_view B) { return SameNameW(A, B); }

std::u16string TKilnorPro::SourcePathOf(const TFileEntry& Entry) { return kilnor::SourcePath(Entry); }

std::u16string TKilnorPro::PathOf(pDirEntry Dir) { return DirPathOf(Dir); }

std::u16string TKilnorPro::JolietName(const TFileEntry& Entry) { return std::u16string(JolietIdentifier(Entry)); }

std::u16string TKilnorPro::UDFShortenedName(const TFileEntry& Entry) const {
  const auto& shortened = CDFiles.UDFBridgeInfo.ShortenedNames;
  const auto found = shortened.find(&Entry);
  return found == shortened.end() ? std::u16string() : found->second;
}

TRecordedLabels TKilnorPro::RecordedLabels() const {
  TRecordedLabels labels;
  labels.Iso9660 = IsoVolumeId(CDFiles);
  if (CDFiles.JolietFS) labels.Joliet = JolietVolumeId(CDFiles);
  if (CDFiles.UDFBridge)
    labels.UDF = std::u16string(FittingPrefix(kilnor::RecordableName(VolumeIDW()), kMaxVolumeLabelChars));
  return labels;
}

std::string TKilnorPro::PrepareError() const {
  if (!CDFiles.PrepareError.empty()) return CDFiles.PrepareError;
  return CDFiles.UDFBridge ? CDFiles.UDFBridgeInfo.LayoutError : std::string();
}

}  // namespace kilnor
