#include "engine/write/CDBurner.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <cstring>
#include <future>
#include <thread>

#include "engine/Notifications.h"
#include "engine/write/ErrorTexts.h"
#include "tests/write/WriteFixtures.h"

namespace kilnor {
namespace {

using testing::PatternBytes;
using testing::ReadFileBytes;
using testing::TPlanBuilder;
using testing::TScratchDir;

struct TCompletion {
  void* sender = nullptr;
  bool failed = false;
  std::thread::id thread;
};

class WriteThreadTest : public ::testing::Test {
 protected:
  WriteThreadTest() { cdFiles.CacheSize = 2u << 20; }

  // A handler for a component without an owner: it runs on the worker.
  TWriteDoneEvent Handler() {
    return [this](void* sender, std::uint8_t, bool failed) {
      done.set_value({sender, failed, std::this_thread::get_id()});
    };
  }

  // Starts the write of `plan` to `image`; the result of StartWrite.
  bool Start(TStreamPlan plan, const std::string& image) {
    cdFiles.TotalImageSize = static_cast<std::uint32_t>(plan.TotalSectors);
    cdFiles.ISOFileName = std::u16string(image.begin(), image.end());
    auto sink = TImageFileSink::Create(cdFiles.ISOFileName);
    EXPECT_TRUE(sink);
    return StartWrite(cdFiles, std::move(plan), std::move(sink), workers, &component, Handler());
  }

  TCompletion Completion() {
    auto result = done.get_future().get();
    workers.StopAndJoinAll();
    return result;
  }

  TCDFiles cdFiles;
  TSCSIDevice device;
  TWorkerRegistry workers;
  int component = 0;
  std::promise<TCompletion> done;
  TScratchDir scratch;
};

TEST_F(WriteThreadTest, WritesTheWholeSessionAndCompletesOnTheWorker) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(150 * 2048, 1)).File(scratch.File("a"), PatternBytes(5 << 20, 2), 1);
  const std::string image = scratch.File("out.iso");
  ASSERT_TRUE(Start(builder.Finish(), image));
  const TCompletion completion = Completion();
  EXPECT_FALSE(completion.failed);
  EXPECT_NE(completion.sender, &component) << "the write thread reports, not the component";
  EXPECT_NE(completion.thread, std::this_thread::get_id());
  EXPECT_EQ(cdFiles.BlocksWritten, cdFiles.TotalImageSize);
  EXPECT_EQ(cdFiles.ComponentStatus, stIdle);
  EXPECT_TRUE(ReadFileBytes(image) == builder.Image());
}

TEST_F(WriteThreadTest, WithAQueueTheCompletionIsPosted) {
  TNotificationQueue queue;
  cdFiles.hWNDFE = &queue;
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(4096, 1));
  ASSERT_TRUE(Start(builder.Finish(), scratch.File("out.iso")));
  ASSERT_TRUE(queue.WaitFor(std::chrono::seconds(10)));
  workers.StopAndJoinAll();
  std::vector<TNotification> posted;
  queue.Drain([&](const TNotification& n) { posted.push_back(n); });
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].Message, WM_WRITEDONE);
  EXPECT_EQ(posted[0].lParam, 0);
}

TEST_F(WriteThreadTest, ASourceThatFailsMidStreamFailsTheWriteAndRemovesThePartialImage) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(8 << 20, 1)).File(scratch.File("shrinks"), PatternBytes(1000, 2), 1, 5000);
  const std::string image = scratch.File("out.iso");
  ASSERT_TRUE(Start(builder.Finish(), image)) << "the cache filled before the fault";
  EXPECT_TRUE(Completion().failed);
  EXPECT_FALSE(std::filesystem::exists(image));
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error opening file \\" + scratch.File("shrinks") + "\\");
}

TEST_F(WriteThreadTest, ASourceThatFailsBeforeTheWriterStartsIsReportedByTheStart) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(4096, 1)).File(scratch.File("gone"), PatternBytes(10, 2), 1);
  std::filesystem::remove(scratch.File("gone"));
  const std::string image = scratch.File("out.iso");
  EXPECT_FALSE(Start(builder.Finish(), image));
  const TCompletion completion = Completion();
  EXPECT_TRUE(completion.failed);
  EXPECT_EQ(completion.sender, &component);
  EXPECT_FALSE(std::filesystem::exists(image));
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), erFileOpen);
}

// A source read as laid out, or changed in size since: each read asks for
// one byte more than is left, so a file that grew or shrank fails the write.
TEST_F(WriteThreadTest, ASourceIsWrittenWholeOrItsChangedSizeFailsTheWrite) {
  struct Case {
    const char* name;
    std::size_t bytes;
    std::uint64_t recorded;
  };
  const Case cases[] = {{"whole, several reads long", (5 << 20) + 3, (5 << 20) + 3},
                        {"whole sectors", 4096, 4096},
                        {"empty", 0, 0},
                        {"shrunk", 1000, 5000},
                        {"grown by one byte", 4097, 4096},
                        {"grown past the cache", (4 << 20) + 10, 4 << 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    done = {};
    cdFiles.ErrorNumber = 0;
    const std::string source = scratch.File("source.bin");
    TPlanBuilder builder;
    builder.Bytes(PatternBytes(150 * 2048, 1)).File(source, PatternBytes(c.bytes, 2), 1, c.recorded);
    const std::string image = scratch.File("out.iso");
    const bool whole = c.bytes == c.recorded;
    // A fault may come before the writer starts, which the start reports;
    // the completion is reported either way.
    const bool started = Start(builder.Finish(), image);
    EXPECT_TRUE(started || !whole);
    EXPECT_EQ(Completion().failed, !whole);
    if (whole) {
      EXPECT_TRUE(ReadFileBytes(image) == builder.Image());
    } else {
      EXPECT_FALSE(std::filesystem::exists(image));
      EXPECT_EQ(TakeErrorString(cdFiles, device), "Error opening file \\" + source + "\\");
    }
    std::filesystem::remove(image);
  }
}

// A file size limit makes the image's writes fail part-way as a full disk
// would; the partial image is removed.
TEST_F(WriteThreadTest, AnOutputThatFillsUpFailsTheWriteWithTheImageNamed) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(150 * 2048, 1)).File(scratch.File("a"), PatternBytes(5 << 20, 2), 1);
  const std::string image = scratch.File("out.iso");
  rlimit before {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = before;
  limited.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool started = Start(builder.Finish(), image);
  const bool failed = started && Completion().failed;
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(started);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(std::filesystem::exists(image));
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error creating file \\" + image + "\\");
  EXPECT_EQ(FileErrorCause(cdFiles), "File too large");
}

// The output is /dev/full: every write fails with "no space left".
TEST_F(WriteThreadTest, AFullDiskFailsTheWriteWithTheImageNamed) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(8 << 20, 1));
  ASSERT_TRUE(Start(builder.Finish(), "/dev/full"));
  EXPECT_TRUE(Completion().failed);
  EXPECT_TRUE(std::filesystem::exists("/dev/full")) << "a device is never removed";
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error creating file \\/dev/full\\");
}

TEST_F(WriteThreadTest, ACreateFailureYieldsNoSink) {
  const std::string notADir = scratch.File("plain");
  testing::WriteFileBytes(notADir, {1});
  for (const std::string& path : {std::string("/nonexistent-dir/x.iso"), notADir + "/x.iso"}) {
    EXPECT_EQ(TImageFileSink::Create(std::u16string(path.begin(), path.end())), nullptr) << path;
  }
}

// An abort at several points of the write: while the cache fills before the
// writer starts, and while the writer runs.
TEST_F(WriteThreadTest, AnAbortFailsTheWriteWhereverItComes) {
  struct Case {
    const char* name;
    std::uint32_t abortAtByte;
    bool started;
  };
  const Case cases[] = {{"before the writer starts", 0, false}, {"while writing", 6u << 20, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    done = {};
    cdFiles.ErrorNumber = 0;
    cdFiles.Files.clear();
    cdFiles.Files.push_back(std::make_unique<TFileEntry>());
    TFileEntry& entry = *cdFiles.Files.back();
    entry.LongName = u"stream.bin";
    entry.FileSize = 16 << 20;
    entry.Extras.edit().mfcbFunction = [&](void*, pFileEntry, std::uint32_t position, void* buffer,
                                           std::uint32_t& size) {
      std::memset(buffer, 1, size);
      if (position >= c.abortAtByte) {
        cdFiles.ErrorNumber = erAborted;
        cdFiles.Aborted = true;
      }
    };
    TPlanBuilder builder;
    builder.CompilationFiles(cdFiles, {std::vector<std::uint8_t>(16 << 20, 1)});
    const std::string image = scratch.File("out.iso");
    EXPECT_EQ(Start(builder.Finish(), image), c.started);
    const TCompletion completion = Completion();
    EXPECT_TRUE(completion.failed);
    EXPECT_EQ(completion.sender == &component, !c.started);
    EXPECT_FALSE(std::filesystem::exists(image));
    EXPECT_LT(cdFiles.BlocksWritten, cdFiles.TotalImageSize);
    EXPECT_EQ(TakeErrorNumber(cdFiles, device), erAborted);
  }
}

}  // namespace
}  // namespace kilnor
