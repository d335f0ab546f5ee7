#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"
#include "engine/write/CDBurner.h"
#include "engine/write/ErrorTexts.h"
#include "tests/write/WriteFixtures.h"

namespace kilnor {
namespace {

using testing::PatternBytes;
using testing::ReadFileBytes;
using testing::TScratchDir;
using testing::WriteFileBytes;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class BuildImageTest : public ::testing::Test {
 protected:
  BuildImageTest() {
    cdFiles.CacheSize = 2u << 20;
    ClearAll(cdFiles);
  }

  void AddFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    WriteFileBytes(scratch.File(name), bytes);
    ASSERT_NE(InsertFile(cdFiles, "\\", scratch.File(name)), nullptr) << name;
  }

  void AddMemoryFile(const std::u16string& name, std::uint64_t size) {
    TWin32FindDataW fd;
    std::copy(name.begin(), name.end(), fd.cFileName);
    fd.nFileSizeHigh = static_cast<std::uint32_t>(size >> 32);
    fd.nFileSizeLow = static_cast<std::uint32_t>(size);
    const auto fill = [](void*, pFileEntry, std::uint32_t position, void* buffer, std::uint32_t& bytes) {
      auto* out = static_cast<std::uint8_t*>(buffer);
      for (std::uint32_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>((position + i) % 251);
    };
    ASSERT_NE(InsertMemoryFileW(cdFiles, u"\\", fd, fill), nullptr);
  }

  bool Build(const std::string& image) {
    return BuildISOImage(cdFiles, Wide(image), workers, &component,
                         [this](void*, std::uint8_t, bool failed) { done.set_value(failed); });
  }

  bool Failed() {
    const bool failed = done.get_future().get();
    workers.StopAndJoinAll();
    return failed;
  }

  TCDFiles cdFiles;
  TSCSIDevice device;
  TWorkerRegistry workers;
  int component = 0;
  std::promise<bool> done;
  TScratchDir scratch;
};

// Checked with an independent reader:
//   xorriso -osirrox on -indev IMAGE -extract / FOLDER
TEST_F(BuildImageTest, TheImageHoldsEveryFileAtItsLaidOutPlace) {
  const auto big = PatternBytes(3 * 1024 * 1024 + 17, 3);
  AddFile("one.bin", {0x42});
  AddFile("empty.txt", {});
  AddFile("big.bin", big);
  AddMemoryFile(u"memory.bin", 70000);
  Prepare(cdFiles);
  const std::string image = scratch.File("out.iso");
  ASSERT_TRUE(Build(image));
  ASSERT_FALSE(Failed());
  EXPECT_EQ(std::filesystem::file_size(image), std::uint64_t{cdFiles.TotalImageSize} * 2048);

  const std::string extracted = scratch.File("extracted");
  const std::string command =
      "xorriso -osirrox on -indev '" + image + "' -extract / '" + extracted + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(ReadFileBytes(extracted + "/one.bin"), std::vector<std::uint8_t>{0x42});
  EXPECT_TRUE(ReadFileBytes(extracted + "/empty.txt").empty());
  EXPECT_TRUE(ReadFileBytes(extracted + "/big.bin") == big);
  const auto memory = ReadFileBytes(extracted + "/memory.bin");
  ASSERT_EQ(memory.size(), 70000u);
  for (std::size_t i = 0; i < memory.size(); ++i) ASSERT_EQ(memory[i], i % 251) << i;
}

// Checked with an independent reader: udfinfo IMAGE
TEST_F(BuildImageTest, WithTheUDFBridgeTheFileStructuresAndTheClosingAnchorAreStreamed) {
  cdFiles.UDFBridge = true;
  const auto bytes = PatternBytes(100000, 5);
  AddFile("u.bin", bytes);
  Prepare(cdFiles);
  const std::string image = scratch.File("udf.iso");
  ASSERT_TRUE(Build(image));
  ASSERT_FALSE(Failed());
  const auto written = ReadFileBytes(image);
  ASSERT_EQ(written.size(), std::uint64_t{cdFiles.TotalImageSize} * 2048);
  const std::size_t lastSector = written.size() - 2048;
  EXPECT_EQ(written[lastSector], 2) << "anchor volume descriptor pointer tag";
  EXPECT_EQ(written[lastSector + 1], 0);
  const std::string command = "udfinfo '" + image + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(BuildImageTest, AnUnpreparedCompilationFailsWithoutTouchingTheOutput) {
  AddFile("a.txt", {1, 2, 3});
  const std::string image = scratch.File("keep.iso");
  WriteFileBytes(image, {'k', 'e', 'e', 'p'});
  EXPECT_FALSE(Build(image));
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), erNotPrepared);
  Prepare(cdFiles);
  AddFile("b.txt", {4});  // a change after Prepare makes the layout stale
  EXPECT_FALSE(Build(image));
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), erNotPrepared);
  EXPECT_EQ(ReadFileBytes(image), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(BuildImageTest, AnOutputThatCannotBeCreatedIsNamedInError3) {
  AddFile("a.txt", {1});
  Prepare(cdFiles);
  WriteFileBytes(scratch.File("plain"), {1});
  const std::string image = scratch.File("plain") + "/x.iso";
  EXPECT_FALSE(Build(image));
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error creating file \\" + image + "\\");
  EXPECT_EQ(FileErrorCause(cdFiles), "Not a directory");
}

TEST_F(BuildImageTest, AMemoryFileOf4GiBIsRefusedBeforeTheOutputIsCreated) {
  AddMemoryFile(u"huge.bin", std::uint64_t{1} << 32);
  Prepare(cdFiles);
  const std::string image = scratch.File("out.iso");
  EXPECT_FALSE(Build(image));
  EXPECT_EQ(TakeErrorStringW(cdFiles, device), u"Error opening file \\'huge.bin\\'");
  EXPECT_FALSE(std::filesystem::exists(image));
}

struct TSourceFault {
  const char* Name;
  std::size_t PreparedBytes;
  void (*Apply)(const std::string& Source);
  const char* Cause;
};

const TSourceFault kSourceFaults[] = {
    {"Grown", 5000, [](const std::string& source) { WriteFileBytes(source, PatternBytes(6000, 1)); },
     "the file changed size while being read"},
    {"Shrunk", 5000, [](const std::string& source) { WriteFileBytes(source, PatternBytes(10, 1)); },
     "the file changed size while being read"},
    {"Removed", 5000, [](const std::string& source) { std::filesystem::remove(source); }, "No such file or directory"},
    // An empty file has no sectors to stream, but its growth must not be lost either.
    {"EmptyGrown", 0, [](const std::string& source) { WriteFileBytes(source, PatternBytes(10, 1)); },
     "the file changed size while being read"},
};

class SourceFaultTest : public BuildImageTest, public ::testing::WithParamInterface<TSourceFault> {};

// A source that changed after Prepare fails the write; the image that stood at
// the output before is kept as it was, no part of the new one is left beside
// it, and the error names the file and, beside the engine's text, the cause.
TEST_P(SourceFaultTest, ASourceChangedAfterPrepareFailsTheWriteAndKeepsTheOldImage) {
  const std::string source = scratch.File("source.bin");
  AddFile("source.bin", PatternBytes(GetParam().PreparedBytes, 1));
  Prepare(cdFiles);
  GetParam().Apply(source);
  const std::string image = scratch.File("out.iso");
  WriteFileBytes(image, {'o', 'l', 'd'});
  if (Build(image)) {
    EXPECT_TRUE(Failed());
  }
  EXPECT_EQ(ReadFileBytes(image), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error opening file \\" + source + "\\");
  EXPECT_EQ(FileErrorCause(cdFiles), GetParam().Cause);
  for (const auto& item : std::filesystem::directory_iterator(scratch.Path())) {
    EXPECT_TRUE(item.path().filename() == "out.iso" || item.path().filename() == "source.bin") << item.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, SourceFaultTest, ::testing::ValuesIn(kSourceFaults),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(BuildImageTest, AnAbortedWriteKeepsTheOldImage) {
  AddMemoryFile(u"large.bin", std::uint64_t{64} << 20);
  Prepare(cdFiles);
  const std::string image = scratch.File("out.iso");
  WriteFileBytes(image, {'o', 'l', 'd'});
  ASSERT_TRUE(Build(image));
  cdFiles.Aborted = true;
  EXPECT_TRUE(Failed());
  EXPECT_EQ(ReadFileBytes(image), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()), {}), 1);
}

// The output must not destroy what it records: the same file under another
// name or through a link is refused before anything is written.
TEST_F(BuildImageTest, AnOutputThatIsOneOfTheSourcesIsRefusedUntouched) {
  const auto bytes = PatternBytes(4096, 9);
  AddFile("data.bin", bytes);
  Prepare(cdFiles);
  const std::string link = scratch.File("link.bin");
  std::filesystem::create_symlink(scratch.File("data.bin"), link);
  for (const std::string& output : {scratch.File("data.bin"), link, scratch.Path().string() + "/./data.bin"}) {
    SCOPED_TRACE(output);
    EXPECT_FALSE(Build(output));
    EXPECT_EQ(TakeErrorString(cdFiles, device), "Error creating file \\" + output + "\\");
    EXPECT_EQ(FileErrorCause(cdFiles), "it is one of the files being recorded");
    EXPECT_EQ(ReadFileBytes(scratch.File("data.bin")), bytes);
  }
}

// A device at the output is written directly; when it is full the error says so.
TEST_F(BuildImageTest, AFullOutputNamesTheCause) {
  AddFile("a.bin", PatternBytes(100000, 2));
  Prepare(cdFiles);
  if (Build("/dev/full")) {
    EXPECT_TRUE(Failed());
  }
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error creating file \\/dev/full\\");
  EXPECT_EQ(FileErrorCause(cdFiles), "No space left on device");
}

// The stream reads the compilation while the write runs: until the write has
// ended nothing may change it or its layout, and a second write is refused.
// The memory file's handler holds the write in the middle of its data.
TEST_F(BuildImageTest, TheCompilationCannotChangeWhileAWriteRuns) {
  const auto bytes = PatternBytes(5000, 4);
  AddFile("a.bin", bytes);
  std::promise<void> gate;
  const std::shared_future<void> opened = gate.get_future().share();
  const std::unique_ptr<std::promise<void>, void (*)(std::promise<void>*)> openAtTheEnd(
      &gate, [](std::promise<void>* g) {
        try {
          g->set_value();
        } catch (const std::future_error&) {
        }
      });
  constexpr std::uint32_t kHeldAt = 4u << 20;
  TWin32FindDataW fd;
  std::u16string name = u"held.bin";
  std::copy(name.begin(), name.end(), fd.cFileName);
  fd.nFileSizeLow = 8u << 20;
  const auto held = [opened](void*, pFileEntry, std::uint32_t position, void* buffer, std::uint32_t& size) {
    if (position >= kHeldAt) opened.wait();
    std::memset(buffer, 0x5A, size);
  };
  ASSERT_NE(InsertMemoryFileW(cdFiles, u"\\", fd, held), nullptr);
  Prepare(cdFiles);
  const std::int32_t files = cdFiles.FileCounter();
  const std::uint32_t sectors = cdFiles.TotalImageSize;
  const std::string image = scratch.File("out.iso");
  ASSERT_TRUE(Build(image));

  WriteFileBytes(scratch.File("late.bin"), {1});
  EXPECT_EQ(InsertFile(cdFiles, "\\", scratch.File("late.bin")), nullptr);
  EXPECT_EQ(LastTreeError(cdFiles), "the compilation cannot change while a write runs: wait until it has ended");
  EXPECT_EQ(CreateDir(cdFiles, "\\", "later"), nullptr);
  EXPECT_EQ(InsertDir(cdFiles, "\\", scratch.Path().string(), "*", true, false), nullptr);
  ClearAll(cdFiles);
  EXPECT_EQ(cdFiles.FileCounter(), files);
  EXPECT_EQ(Prepare(cdFiles), 0u);
  EXPECT_EQ(cdFiles.TotalImageSize, sectors);
  EXPECT_FALSE(BuildISOImage(cdFiles, Wide(scratch.File("second.iso")), workers, &component, nullptr));
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), erWriteRunning);

  gate.set_value();
  ASSERT_FALSE(Failed());
  const auto written = ReadFileBytes(image);
  ASSERT_EQ(written.size(), std::uint64_t{sectors} * 2048);
  const auto address = (cdFiles.FirstDataSector + cdFiles.Files[0]->Address) * std::size_t{2048};
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), written.begin() + static_cast<std::ptrdiff_t>(address)));
  EXPECT_FALSE(std::filesystem::exists(scratch.File("second.iso")));
  EXPECT_NE(InsertFile(cdFiles, "\\", scratch.File("late.bin")), nullptr);
}

}  // namespace
}  // namespace kilnor
