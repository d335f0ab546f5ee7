#include "LayoutFixture.h"

#include <algorithm>
#include <cstring>

#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"

namespace kilnor::test {
namespace {

void SetShortName(char (&field)[kShortNameBytes], std::uint8_t& length, const std::u16string& longName,
                  bool isFile) {
  std::string name = Utf16ToUtf8(std::u16string_view(longName).substr(0, Utf16PrefixLength(longName, 12)));
  name.resize(Utf8PrefixLength(name, kShortNameBytes - 2));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (isFile && name.find('.') == std::string::npos) name += '.';
  std::memcpy(field, name.data(), name.size());
  field[name.size()] = '\0';
  length = static_cast<std::uint8_t>(name.size());
}

void Append(pDirEntry dir, pFileEntry entry) {
  if (dir->LastFile)
    dir->LastFile->NextFile = entry;
  else
    dir->Files = entry;
  dir->LastFile = entry;
}

}  // namespace

TCompilation::TCompilation() {
  // The plain ISO 9660 layout; the cases with Rock Ridge turn it on.
  cd.RockRidge = false;
  cd.Dirs.push_back(std::make_unique<TDirEntry>());
  cd.RootDir = cd.Dirs.back().get();
  cd.RootDir->Parent = cd.RootDir;
  std::strcpy(cd.RootDir->ShortName, "ROOT_DIR");
  cd.PathTableEntries.push_back(cd.RootDir);
}

pDirEntry TCompilation::AddDir(pDirEntry parent, const std::u16string& name) {
  cd.Dirs.push_back(std::make_unique<TDirEntry>());
  pDirEntry dir = cd.Dirs.back().get();
  dir->Parent = parent;
  dir->LongName = name;
  dir->DirNameLengthJ = static_cast<std::uint8_t>(name.size());
  SetShortName(dir->ShortName, dir->DirNameLength, name, false);
  pFileEntry entry = AddFile(parent, name, 0);
  SetShortName(entry->ShortName, entry->FileNameLength, name, false);
  entry->attributes = kAttributeDirectory;
  entry->DirRecord = dir;
  cd.Prepared = false;
  return dir;
}

pFileEntry TCompilation::AddFile(pDirEntry parent, const std::u16string& name, std::int64_t size,
                                 const std::filesystem::path& source) {
  cd.Files.push_back(std::make_unique<TFileEntry>());
  pFileEntry entry = cd.Files.back().get();
  entry->LongName = name;
  entry->FileNameLengthJ = static_cast<std::uint8_t>(name.size());
  SetShortName(entry->ShortName, entry->FileNameLength, name, true);
  entry->FileSize = size;
  entry->Time = kSummerTime;
  entry->attributes = kAttributeArchive;
  SetSourcePath(*entry, source.u16string());
  entry->Unicode = true;
  Append(parent, entry);
  cd.Prepared = false;
  return entry;
}

void TCompilation::SetLabel(const std::string& label) {
  std::memset(cd.VolumeLabel, 0, sizeof cd.VolumeLabel);
  std::memcpy(cd.VolumeLabel, label.data(), std::min(label.size(), sizeof cd.VolumeLabel - 1));
  const std::u16string wide = Utf8ToUtf16(label);
  std::fill(std::begin(cd.VolumeLabelW), std::end(cd.VolumeLabelW), u'\0');
  std::copy_n(wide.begin(), std::min<std::size_t>(wide.size(), 31), cd.VolumeLabelW);
}

}  // namespace kilnor::test
