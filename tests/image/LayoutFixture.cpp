#include "LayoutFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "engine/image/ISO9660.h"
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

struct TFd {
  int fd = -1;
  explicit TFd(int f) : fd(f) {}
  ~TFd() {
    if (fd >= 0) close(fd);
  }
};

// Copies the data regions of `source` to `out` at `offset`; holes stay holes.
bool CopySparse(const std::filesystem::path& source, int out, off_t offset) {
  TFd in(open(source.c_str(), O_RDONLY));
  if (in.fd < 0) return false;
  const off_t end = lseek(in.fd, 0, SEEK_END);
  std::vector<char> buffer(1 << 20);
  off_t data = lseek(in.fd, 0, SEEK_DATA);
  while (data >= 0 && data < end) {
    const off_t hole = lseek(in.fd, data, SEEK_HOLE);
    for (off_t at = data; at < hole;) {
      const auto n = pread(in.fd, buffer.data(), std::min<off_t>(buffer.size(), hole - at), at);
      if (n <= 0 || pwrite(out, buffer.data(), static_cast<size_t>(n), offset + at) != n) return false;
      at += n;
    }
    data = lseek(in.fd, hole, SEEK_DATA);
  }
  return true;
}

}  // namespace

TCompilation::TCompilation() {
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
  entry->LongName = entry->LongNameWIN32 = name;
  entry->FileNameLengthJ = static_cast<std::uint8_t>(name.size());
  SetShortName(entry->ShortName, entry->FileNameLength, name, true);
  entry->FileSize = size;
  entry->Time = kSummerTime;
  entry->attributes = kAttributeArchive;
  entry->Path = source.u16string();
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

bool WriteTestImage(TCDFiles& cd, const std::filesystem::path& image) {
  if (!GenerateHeader(cd)) return false;
  TFd out(open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (out.fd < 0) return false;
  if (pwrite(out.fd, cd.isom.data(), static_cast<size_t>(cd.IsoHeaderSize), 0) != cd.IsoHeaderSize) return false;
  if (!cd.BootImage.empty() && !CopySparse(cd.BootImage, out.fd, off_t{cd.BootImageLocation} * 2048)) return false;
  for (const auto& e : cd.Files) {
    if (!HasNewData(*e)) continue;
    const off_t at = (off_t{cd.FirstDataSector} + e->Address) * 2048;
    if (!CopySparse(std::filesystem::path(e->Path), out.fd, at)) return false;
  }
  return ftruncate(out.fd, off_t{cd.TotalImageSize} * 2048) == 0;
}

TCommandResult Run(const std::string& command) {
  TCommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.Output.append(chunk, n);
  const int status = pclose(pipe);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool HaveTool(const std::string& name) { return Run("command -v " + name).ExitCode == 0; }

std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TTempDir::TTempDir() {
  std::random_device seed;
  path_ = std::filesystem::temp_directory_path() / ("velmor-layout-" + std::to_string(seed()));
  std::filesystem::create_directories(path_);
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace kilnor::test
