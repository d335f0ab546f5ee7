// The UDF bridge beside ISO 9660: what Prepare reserves, what the header and
// the generator write, read back by an independent reader and by udfinfo
// and 7z (udftools, p7zip-full).
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "LayoutFixture.h"
#include "ReaderTools.h"
#include "UDFReader.h"
#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"
#include "engine/image/UDFBridge.h"
#include "engine/platform/Unicode.h"

namespace kilnor::test {
namespace {

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

void ExpectClean(const TUDFVolume& v) {
  for (const std::string& error : v.Errors) ADD_FAILURE() << error;
}

std::string Content(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed * 13 + i / 2048) & 0xFF);
  return bytes;
}

// A compilation of real files below a temporary folder.
struct TSourceTree {
  TTempDir dir;
  TCompilation c;
  std::map<std::string, std::string> expected;   // UDF path -> content ("" for a directory: see dirs)
  std::set<std::string> dirs;

  TSourceTree() { c.cd.UDFBridge = true; }

  pFileEntry File(pDirEntry parent, const std::string& parentPath, const std::u16string& name, std::size_t size,
                  int seed) {
    const std::string content = Content(size, seed);
    const auto source = dir.path() / ("src" + std::to_string(expected.size()));
    std::ofstream(source, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    expected[parentPath + "/" + Narrow(name)] = content;
    return c.AddFile(parent, name, static_cast<std::int64_t>(size), source);
  }
  pDirEntry Dir(pDirEntry parent, const std::string& parentPath, const std::u16string& name) {
    dirs.insert(parentPath + "/" + Narrow(name));
    return c.AddDir(parent, name);
  }
};

// Reads every file below root into path -> content.
std::map<std::string, std::string> Extracted(const std::filesystem::path& root, std::set<std::string>& dirs) {
  std::map<std::string, std::string> files;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = "/" + std::filesystem::relative(item.path(), root).string();
    if (item.is_directory()) {
      dirs.insert(path);
      continue;
    }
    std::ifstream in(item.path(), std::ios::binary);
    files[path] = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  return files;
}

TEST(UDFBridge, EmptyCompilationHasTheRootAndOneDataBlock) {
  TCompilation c;
  c.cd.UDFBridge = true;
  const std::uint32_t size = Prepare(c.cd);
  const UDFBridgeInformation& info = c.cd.UDFBridgeInfo;
  EXPECT_EQ(info.VolumeRecognitionSequence_LSAWRTSession, 19u) << "after primary, Joliet and terminator";
  EXPECT_EQ(c.cd.PathTableExtentL, 259u) << "the ISO tables follow the file set descriptor";
  EXPECT_EQ(info.NumberOfBlocksRequiredForFileDirStructures, 2u);
  EXPECT_EQ(size, c.cd.FirstDataSector + 1);
  EXPECT_EQ(c.cd.TotalImageSize % 32, 0u);
  EXPECT_EQ(info.LastAnchorVolumeDescriptorPointer_LSAWRTSession, c.cd.TotalImageSize - 1);
  EXPECT_EQ(info.PartitionStarting_LSA, 257u);
  EXPECT_EQ(info.LengthOfPartitionPortionInSession_LBS, c.cd.TotalImageSize - 258);

  TTempDir tmp;
  ASSERT_TRUE(WriteUDFTestImage(c.cd, tmp.path() / "empty.iso"));
  const TUDFVolume v = ReadUDFVolume(tmp.path() / "empty.iso");
  ExpectClean(v);
  ASSERT_EQ(v.Tree.size(), 1u);
  const TUDFNode& root = v.Tree.at(u"/");
  EXPECT_EQ(root.UniqueID, 0u);
  EXPECT_EQ(root.LinkCount, 1);
  EXPECT_EQ(root.InformationLength, 40u);
  EXPECT_EQ(v.NumberOfDirectories, 1u);
  EXPECT_EQ(v.NumberOfFiles, 0u);
}

TEST(UDFBridge, FixtureTreeReadsBackThroughEveryReader) {
  TSourceTree t;
  t.c.SetLabel("Data");
  pDirEntry root = t.c.root();
  t.File(root, "", u"readme.txt", 1000, 1);
  t.File(root, "", u"empty.bin", 0, 2);
  t.File(root, "", u"one-sector.bin", 2048, 3);
  t.File(root, "", u"Gr\u00fc\u00dfe \u4e2d\u6587.txt", 5000, 4);
  pDirEntry docs = t.Dir(root, "", u"Docs");
  t.File(docs, "/Docs", u"a.txt", 1, 5);
  pDirEntry deep = t.Dir(docs, "/Docs", u"2014");
  t.File(deep, "/Docs/2014", u"report.pdf", 70000, 6);
  t.Dir(docs, "/Docs", u"empty dir");
  for (int i = 0; i < 60; ++i) t.File(docs, "/Docs", u"many-" + Utf8ToUtf16(std::to_string(i)) + u".dat", 100 + i, 7 + i);
  ASSERT_GT(Prepare(t.c.cd), 0u);

  const auto image = t.dir.path() / "tree.iso";
  ASSERT_TRUE(WriteUDFTestImage(t.c.cd, image, 1));
  const TUDFVolume v = ReadUDFVolume(image);
  ExpectClean(v);
  EXPECT_GT(v.DescriptorsChecked, 100u);
  EXPECT_EQ(v.VolumeIdentifier[0], 0x10);
  EXPECT_EQ(v.VolumeIdentifier[31], 9);
  EXPECT_EQ(v.NumberOfFiles, t.expected.size());
  EXPECT_EQ(v.NumberOfDirectories, t.dirs.size() + 1);
  EXPECT_EQ(v.Tree.at(u"/Docs").LinkCount, 3) << "parent link and two subdirectories";

  if (!HaveTool("udfinfo") || !HaveTool("7z")) GTEST_SKIP() << "udftools or p7zip-full missing";
  const TCommandResult info = RunTool("udfinfo " + Quoted(image));
  EXPECT_EQ(info.ExitCode, 0) << info.Output;
  EXPECT_NE(info.Output.find("label=Data\n"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("blocksize=2048\n"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("udfrev=1.50\n"), std::string::npos) << info.Output;
  EXPECT_EQ(info.Output.find("rror"), std::string::npos) << info.Output;

  const TCommandResult test = RunTool("7z t -tudf " + Quoted(image));
  EXPECT_EQ(test.ExitCode, 0) << test.Output;
  EXPECT_NE(test.Output.find("Everything is Ok"), std::string::npos) << test.Output;

  for (const char* type : {"udf", "iso"}) {
    const auto out = t.dir.path() / (std::string("x-") + type);
    const TCommandResult x = RunTool("7z x -t" + std::string(type) + " -o" + Quoted(out) + " " + Quoted(image));
    ASSERT_EQ(x.ExitCode, 0) << x.Output;
    std::set<std::string> dirs;
    EXPECT_EQ(Extracted(out, dirs), t.expected) << type;
    EXPECT_EQ(dirs, t.dirs) << type;
  }
}

TEST(UDFBridge, DataEndingOnAPacketBoundaryPutsTheAnchorInAPacketOfItsOwn) {
  TTempDir tmp;
  TCompilation c;
  c.cd.UDFBridge = true;
  const auto source = tmp.path() / "data";
  pFileEntry file = c.AddFile(c.root(), u"data.bin", 2048, source);
  ASSERT_GT(Prepare(c.cd), 0u);
  // Grow the file until the data ends on a packet boundary (the UDF area does not change).
  const std::uint32_t end = c.cd.FirstDataSector + c.cd.FilesSize;
  file->FileSize = std::int64_t{2048} * (1 + (32 - end % 32) % 32);
  std::filesystem::resize_file((std::ofstream(source), source), static_cast<std::uintmax_t>(file->FileSize));
  ASSERT_GT(Prepare(c.cd), 0u);
  ASSERT_EQ((c.cd.FirstDataSector + c.cd.FilesSize) % 32, 0u);
  const UDFBridgeInformation& info = c.cd.UDFBridgeInfo;
  EXPECT_TRUE(info.IsNewPacketRequiredForLastAVDP);
  EXPECT_EQ(c.cd.TotalImageSize, c.cd.FirstDataSector + c.cd.FilesSize + 32);
  EXPECT_EQ(info.LastAnchorVolumeDescriptorPointer_LSAWRTSession, c.cd.TotalImageSize - 1);
  ASSERT_TRUE(WriteUDFTestImage(c.cd, tmp.path() / "boundary.iso"));
  ExpectClean(ReadUDFVolume(tmp.path() / "boundary.iso"));

  file->FileSize += 2048;
  ASSERT_GT(Prepare(c.cd), 0u);
  EXPECT_FALSE(info.IsNewPacketRequiredForLastAVDP);
}

TEST(UDFBridge, EveryDescriptorIsSealedWhereverTheSessionStarts) {
  TCompilation c;
  c.cd.UDFBridge = true;
  for (int i = 0; i < 40; ++i) c.AddFile(c.root(), u"file" + Utf8ToUtf16(std::to_string(i)), 3000 * i);
  ASSERT_GT(Prepare(c.cd), 0u);
  const std::uint32_t start = 100000;
  c.cd.FirstWritableSector = start;
  ASSERT_TRUE(GenerateHeader(c.cd));
  std::vector<std::uint8_t> session = WholeHeader(c.cd);
  session.resize(std::size_t{c.cd.TotalImageSize} * 2048);
  const std::vector<std::uint8_t> area = GenerateUDFArea(c.cd, start, 7);
  ASSERT_FALSE(area.empty());
  std::copy(area.begin(), area.end(), session.begin() + std::size_t{c.cd.UDFBridgeInfo.RootDirectoryICB_LSAWRTSession} * 2048);
  BuildAnchorPointer(std::span(session).subspan((c.cd.TotalImageSize - 1) * std::size_t{2048}).first<2048>(), c.cd, start,
                     c.cd.TotalImageSize - 1);

  const TUDFVolume v = ReadUDFVolume(session, start, start);
  ExpectClean(v);
  EXPECT_EQ(v.PartitionStart, 257u);
  EXPECT_EQ(v.PartitionLength, start + c.cd.TotalImageSize - 258);
  EXPECT_EQ(v.Tree.size(), 41u);
  const TUDFNode& file = v.Tree.at(u"/file1");
  ASSERT_EQ(file.Extents.size(), 1u);
  EXPECT_EQ(file.Extents[0].Position + 257, start + c.cd.FirstDataSector + c.cd.Files[1]->Address);
  // The file set descriptor's tag location is the LBN of absolute sector start + 257.
  EXPECT_EQ(session[257 * 2048 + 12] | session[257 * 2048 + 13] << 8 | session[257 * 2048 + 14] << 16, start & 0xFFFFFF);
}

TEST(UDFBridge, GenerationIsRepeatableAndIndependentOfHowItIsAskedFor) {
  TCompilation c;
  c.cd.UDFBridge = true;
  pDirEntry sub = c.AddDir(c.root(), u"sub");
  for (int i = 0; i < 300; ++i) c.AddFile(i % 2 ? sub : c.root(), u"name-of-some-length-" + Utf8ToUtf16(std::to_string(i)), i);
  ASSERT_GT(Prepare(c.cd), 0u);
  const std::vector<std::uint8_t> whole = GenerateUDFArea(c.cd, 0, c.cd.UDFBridgeInfo.NumberOfBlocksRequiredForFileDirStructures);
  ASSERT_FALSE(whole.empty());
  for (std::uint32_t chunk : {1u, 2u, 3u, 32u}) EXPECT_EQ(GenerateUDFArea(c.cd, 0, chunk), whole) << chunk;

  ASSERT_TRUE(GenerateHeader(c.cd));
  const std::vector<std::uint8_t> header = WholeHeader(c.cd);
  ASSERT_TRUE(GenerateHeader(c.cd));
  EXPECT_EQ(WholeHeader(c.cd), header) << "the volume structures are the same on every write";
}

TEST(UDFBridge, DirectoryDataOfExactlyOneBlockIsFollowedByTheNextEntry) {
  // The parent entry (40 bytes), identifiers of 28-unit names (96 bytes each)
  // and a last one sized to end exactly at byte 2,048.
  TCompilation c;
  c.cd.UDFBridge = true;
  std::uint64_t total = 40;
  int i = 0;
  while (total < 2048) {
    const std::size_t left = 2048 - total;
    // identifier descriptor of n units: (38 + 1 + 2n + 3) / 4 * 4 bytes
    std::size_t units = 28;
    if (left < 200) units = (left - 40) / 2;
    std::u16string name = Utf8ToUtf16("f" + std::to_string(i++));
    name.resize(units, u'x');
    total += (38 + 1 + 2 * units + 3) / 4 * 4;
    c.AddFile(c.root(), name, 0);
  }
  ASSERT_EQ(total, 2048u);
  ASSERT_GT(Prepare(c.cd), 0u);
  const UDFBridgeInformation& info = c.cd.UDFBridgeInfo;
  EXPECT_EQ(c.cd.RootDir->UDFDirInfo.InformationLength, 2048u);
  EXPECT_EQ(c.cd.RootDir->Files->UDFFileInfo.FileICB_LSOffsetWRTSession,
            c.cd.RootDir->UDFDirInfo.DirData_LSOffsetWRTSession + 1);
  EXPECT_EQ(info.NumberOfBlocksRequiredForFileDirStructures, 2u + static_cast<std::uint32_t>(i));
  TTempDir tmp;
  ASSERT_TRUE(WriteUDFTestImage(c.cd, tmp.path() / "exact.iso", 1));
  ExpectClean(ReadUDFVolume(tmp.path() / "exact.iso"));
}

TEST(UDFBridge, OverlongNamesAreStoredWholeOrShortenedUniquely) {
  TSourceTree t;
  pDirEntry root = t.c.root();
  const std::u16string latin(200, u'l');                       // 8-bit compression holds it
  const std::u16string wide = std::u16string(140, u'\u4e2d');  // neither holds it
  t.File(root, "", latin + u".txt", 10, 1);
  t.File(root, "", wide + u"a.txt", 20, 2);
  t.File(root, "", wide + u"b.txt", 30, 3);
  t.File(root, "", std::u16string(124, u'\u4e2d') + u"\U0001F600\u4e2d\u4e2d", 40, 4);   // pair at the cut
  ASSERT_GT(Prepare(t.c.cd), 0u);
  const auto image = t.dir.path() / "names.iso";
  ASSERT_TRUE(WriteUDFTestImage(t.c.cd, image));
  const TUDFVolume v = ReadUDFVolume(image);
  ExpectClean(v);
  std::set<std::u16string> names;
  for (const auto& [path, node] : v.Tree) {
    if (path == u"/") continue;
    names.insert(path.substr(1));
  }
  EXPECT_TRUE(names.count(latin + u".txt")) << "stored whole with 8-bit compression";
  EXPECT_TRUE(names.count(std::u16string(121, u'\u4e2d') + u"~1.txt"));
  EXPECT_TRUE(names.count(std::u16string(121, u'\u4e2d') + u"~2.txt"));
  EXPECT_TRUE(names.count(std::u16string(124, u'\u4e2d') + u"~1")) << "the pair is dropped whole";
  EXPECT_EQ(names.size(), 4u);
}

TEST(UDFBridge, LabelsAreCutBetweenCharacters) {
  struct Case {
    std::string label;
    std::vector<std::uint8_t> start;
    std::uint8_t length;
  } cases[] = {
      {"Data", {0x10, 0x00, 'D', 0x00, 'a', 0x00, 't', 0x00, 'a'}, 9},
      {"abcdefghijklmnopqrstuvwxyz01234", {0x08, 'a', 'b'}, 31},                 // 30 characters, 8-bit
      {"\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad"
       "\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xf0\x9f\x98\x80",
       {0x10, 0x4E, 0x2D}, 29},                                                  // 14 wide + a pair: the pair is dropped
  };
  for (const Case& c : cases) {
    TCompilation comp;
    comp.cd.UDFBridge = true;
    comp.SetLabel(c.label);
    ASSERT_GT(Prepare(comp.cd), 0u);
    const auto& id = comp.cd.UDFBridgeInfo.VolumeIdentifier;
    EXPECT_TRUE(std::equal(c.start.begin(), c.start.end(), id.begin())) << c.label;
    EXPECT_EQ(id[31], c.length) << c.label;
  }
}

TEST(UDFBridge, LargeFilesAreDescribedByWholeSectorExtentsBelowTwoToThe30) {
  TTempDir tmp;
  const std::uint64_t sizes[] = {(1ull << 30), (4ull << 30) + 12345};
  TCompilation c;
  c.cd.UDFBridge = true;
  for (int i = 0; i < 2; ++i) {
    const auto source = tmp.path() / ("big" + std::to_string(i));
    std::filesystem::resize_file((std::ofstream(source), source), sizes[i]);
    std::fstream f(source, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(sizes[i] - 5));
    f.write("tail!", 5);
    c.AddFile(c.root(), u"big" + Utf8ToUtf16(std::to_string(i)), static_cast<std::int64_t>(sizes[i]), source);
  }
  ASSERT_GT(Prepare(c.cd), 0u);
  const auto image = tmp.path() / "big.iso";
  ASSERT_TRUE(WriteUDFTestImage(c.cd, image));
  const TUDFVolume v = ReadUDFVolume(image);
  ExpectClean(v);
  for (int i = 0; i < 2; ++i) {
    const TUDFNode& node = v.Tree.at(u"/big" + Utf8ToUtf16(std::to_string(i)));
    EXPECT_EQ(node.InformationLength, sizes[i]);
    EXPECT_EQ(node.Extents.size(), i == 0 ? 2u : 5u);
    std::uint32_t next = node.Extents[0].Position;
    for (const TUDFExtent& e : node.Extents) {
      EXPECT_LT(e.Length, 1u << 30) << "no extent type bits";
      EXPECT_EQ(e.Position, next) << "contiguous";
      next += e.Length / 2048;
    }
    EXPECT_EQ(node.Extents[0].Position + 257, c.cd.FirstDataSector + c.cd.Files[static_cast<std::size_t>(i)]->Address);
    // The last bytes the extents describe are the file's last bytes.
    std::ifstream in(image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>((std::uint64_t{node.Extents[0].Position} + 257) * 2048 + sizes[i] - 5));
    char tail[5] = {};
    in.read(tail, 5);
    EXPECT_EQ(std::string(tail, 5), "tail!");
  }
  if (!HaveTool("7z")) GTEST_SKIP() << "p7zip-full missing";
  const TCommandResult list = RunTool("7z l -slt -tudf " + Quoted(image));
  EXPECT_NE(list.Output.find("Size = " + std::to_string(sizes[1])), std::string::npos) << list.Output;
}

TEST(UDFBridge, RefusesAFileThatOneFileEntryCannotDescribe) {
  TCompilation c;
  c.cd.UDFBridge = true;
  c.AddFile(c.root(), u"huge.bin", std::int64_t{300} << 30);
  EXPECT_EQ(Prepare(c.cd), 0u);
  EXPECT_FALSE(c.cd.Prepared);
  EXPECT_NE(c.cd.UDFBridgeInfo.LayoutError.find("\"huge.bin\""), std::string::npos) << c.cd.UDFBridgeInfo.LayoutError;
  c.cd.UDFBridge = false;
  EXPECT_GT(Prepare(c.cd), 0u) << "ISO 9660 alone records it";
}

TEST(UDFBridge, ImportedDataBelowTheDefaultPartitionStartMovesThePartitionStart) {
  TCompilation c;
  c.cd.UDFBridge = true;
  pFileEntry old = c.AddFile(c.root(), u"old.bin", 4096);
  old->Imported = true;
  old->Address = 180;
  SetSourcePath(*old, {});
  c.AddFile(c.root(), u"new.bin", 0);
  ASSERT_GT(Prepare(c.cd), 0u);
  EXPECT_EQ(c.cd.UDFBridgeInfo.PartitionStarting_LSA, 180u);
  const std::uint32_t start = 5000;
  c.cd.FirstWritableSector = start;
  ASSERT_TRUE(GenerateHeader(c.cd));
  std::vector<std::uint8_t> disc(std::size_t{start + c.cd.TotalImageSize} * 2048);
  const std::vector<std::uint8_t> header = WholeHeader(c.cd);
  std::copy(header.begin(), header.end(), disc.begin() + std::size_t{start} * 2048);
  const std::vector<std::uint8_t> area = GenerateUDFArea(c.cd, start, 32);
  ASSERT_FALSE(area.empty());
  std::copy(area.begin(), area.end(), disc.begin() + (std::size_t{start} + c.cd.UDFBridgeInfo.RootDirectoryICB_LSAWRTSession) * 2048);
  const std::uint32_t last = start + c.cd.TotalImageSize - 1;
  BuildAnchorPointer(std::span(disc).subspan(std::size_t{last} * 2048).first<2048>(), c.cd, start, c.cd.TotalImageSize - 1);
  const TUDFVolume v = ReadUDFVolume(disc, 0, start);
  ExpectClean(v);
  EXPECT_EQ(v.PartitionStart, 180u);
  EXPECT_EQ(v.PartitionLength, last - 180);
  ASSERT_EQ(v.Tree.at(u"/old.bin").Extents.size(), 1u);
  EXPECT_EQ(v.Tree.at(u"/old.bin").Extents[0].Position, 0u);
  EXPECT_TRUE(v.Tree.at(u"/new.bin").Extents.empty()) << "an empty file records no extent";
}

TEST(UDFBridge, GenerationFailsInsteadOfWritingWhatCannotBeRead) {
  TCompilation c;
  c.cd.UDFBridge = true;
  pFileEntry stray = c.AddFile(c.root(), u"stray.bin", 4096);
  stray->Imported = true;
  stray->Address = 900000;                                 // beyond the session being written
  SetSourcePath(*stray, {});
  ASSERT_GT(Prepare(c.cd), 0u);
  std::vector<std::uint8_t> area(std::size_t{c.cd.UDFBridgeInfo.NumberOfBlocksRequiredForFileDirStructures} * 2048);
  TUDFFileStructureGenerator generator(c.cd, 0);
  const TUDFStatus status = generator.Generate(area);
  EXPECT_NE(status.Error.find("\"stray.bin\""), std::string::npos) << status.Error;

  stray->Address = 200;
  ASSERT_GT(Prepare(c.cd), 0u);
  TUDFFileStructureGenerator all(c.cd, 0);
  EXPECT_TRUE(all.Generate(area).ok());
  EXPECT_TRUE(all.Exhausted());
  std::vector<std::uint8_t> more(2048);
  EXPECT_FALSE(all.Generate(more).ok()) << "nothing past the laid-out area";

  c.cd.Prepared = false;
  TUDFFileStructureGenerator stale(c.cd, 0);
  EXPECT_FALSE(stale.Generate(area).ok()) << "a changed compilation is not generated";
}

}  // namespace
}  // namespace kilnor::test
