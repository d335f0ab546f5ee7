#include "cli/DiscMatch.h"

#include <set>
#include <unordered_map>

#include "engine/platform/Unicode.h"

namespace velmor::cli {

namespace {

using kilnor::pDirEntry;
using kilnor::pFileEntry;

void CollectRecorded(pDirEntry directory, const std::u16string& path, TRecordedFiles& files) {
  for (pFileEntry entry = directory->Files; entry; entry = entry->NextFile) {
    const std::u16string entryPath = path + u"/" + entry->LongName;
    if (entry->DirRecord) {
      CollectRecorded(entry->DirRecord, entryPath, files);
    } else {
      files[entryPath] = {entry->Address, static_cast<std::uint64_t>(entry->FileSize), entry->Time};
    }
  }
}

class TMatcher {
 public:
  TMatcher(const kilnor::TCDFiles& sources, const TRecordedFiles& recorded) : recorded_(recorded) {
    for (std::size_t i = 0; i < sources.Files.size(); ++i)
      fileIds_[sources.Files[i].get()] = static_cast<std::int32_t>(i);
  }

  void Walk(pDirEntry directory, const std::u16string& path) {
    for (pFileEntry entry = directory->Files; entry; entry = entry->NextFile) {
      const std::u16string entryPath = path + u"/" + kilnor::TKilnorPro::JolietName(*entry);
      if (entry->DirRecord) {
        Walk(entry->DirRecord, entryPath);
      } else {
        Match(entry, entryPath);
      }
    }
  }

  TSourceMatch Finish() {
    for (const auto& [path, file] : recorded_)
      if (!found_.contains(path)) match_.Unexpected.push_back(kilnor::Utf16ToUtf8(path));
    return std::move(match_);
  }

 private:
  void Match(pFileEntry entry, const std::u16string& path) {
    const auto recorded = recorded_.find(path);
    if (recorded == recorded_.end()) {
      match_.Missing.push_back(kilnor::Utf16ToUtf8(kilnor::TKilnorPro::SourcePathOf(*entry)));
      return;
    }
    found_.insert(path);
    kilnor::TVerifyItem item;
    item.Source = entry;
    item.FileId = fileIds_.at(entry);
    item.Sector = recorded->second.Sector;
    item.DiscBytes = recorded->second.Bytes;
    item.RecordedTime = recorded->second.Time;
    match_.Items.push_back(item);
  }

  const TRecordedFiles& recorded_;
  std::unordered_map<const kilnor::TFileEntry*, std::int32_t> fileIds_;
  std::set<std::u16string> found_;
  TSourceMatch match_;
};

}  // namespace

TRecordedFiles RecordedFiles(const kilnor::TKilnorPro& Component) {
  TRecordedFiles files;
  if (Component.RootDir()) CollectRecorded(Component.RootDir(), u"", files);
  return files;
}

TSourceMatch MatchSources(kilnor::TKilnorPro& Component, const TRecordedFiles& Recorded) {
  TMatcher matcher(Component.CDFiles, Recorded);
  if (Component.RootDir()) matcher.Walk(Component.RootDir(), u"");
  return matcher.Finish();
}

}  // namespace velmor::cli
