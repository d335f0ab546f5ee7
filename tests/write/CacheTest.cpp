#include "engine/write/Cache.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/write/ErrorTexts.h"
#include "tests/write/WriteFixtures.h"

namespace kilnor {
namespace {

using testing::PatternBytes;
using testing::TPlanBuilder;
using testing::TScratchDir;

constexpr std::uint32_t kTwoMiB = 2u << 20;
constexpr std::uint32_t kCachePackets = 32;

TEST(PacketCacheSize, IsCappedToThePacketTable) {
  const struct {
    std::uint32_t cacheSize;
    std::uint32_t maxPackets;
  } cases[] = {{kTwoMiB, 32}, {32u << 20, 512}, {625u << 20, 9999}, {2000u << 20, 9999}};
  for (const auto& c : cases) EXPECT_EQ(MaxPacketsFor(c.cacheSize), c.maxPackets) << c.cacheSize;
}

// A memory file of the compilation served from a vector; a handler may
// deliver fewer bytes than asked to model a source that comes up short.
struct TMemoryFile {
  TMemoryFile(TCDFiles& cd, std::vector<std::uint8_t> data, std::uint32_t shortBy = 0)
      : bytes(std::move(data)), shortfall(shortBy) {
    cd.Files.push_back(std::make_unique<TFileEntry>());
    entry = cd.Files.back().get();
    entry->FileId = cd.FileCounter() - 1;
    entry->LongName = u"memory.bin";
    entry->FileSize = static_cast<std::int64_t>(bytes.size());
    entry->Extras.edit().mfcbFunction = [this](void*, pFileEntry, std::uint32_t position, void* buffer,
                                               std::uint32_t& size) {
      positions.push_back(position);
      requests.push_back(size);
      const std::size_t n = std::min<std::size_t>(size, bytes.size() - position);
      std::memcpy(buffer, bytes.data() + position, n);
      size = static_cast<std::uint32_t>(n) - std::min<std::uint32_t>(shortfall, static_cast<std::uint32_t>(n));
    };
  }
  TMemoryFile(const TMemoryFile&) = delete;
  TMemoryFile& operator=(const TMemoryFile&) = delete;
  std::vector<std::uint8_t> bytes;
  std::uint32_t shortfall;
  pFileEntry entry = nullptr;
  std::vector<std::uint32_t> positions;
  std::vector<std::uint32_t> requests;
};

class CacheThreadTest : public ::testing::Test {
 protected:

  // Takes every packet the cache hands out; returns the bytes.
  std::vector<std::uint8_t> Drain(TCacheThread& thread) {
    std::vector<std::uint8_t> out;
    for (;;) {
      const TPackets packets = thread.Cache().TakePackets(5);
      if (packets.Count == 0) break;
      out.insert(out.end(), packets.Data, packets.Data + packets.Size);
      thread.Cache().ReleasePackets();
    }
    thread.Join();
    return out;
  }

  TCDFiles cdFiles;
  TSCSIDevice device;
  TScratchDir scratch;
};

TEST_F(CacheThreadTest, StreamsItemsInOrderWithZeroedSectorTailsAndPadding) {
  TMemoryFile memory(cdFiles, PatternBytes(70000, 9));
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(150 * 2048, 1))
      .File(scratch.File("one-byte"), {0xAB}, 3)
      .File(scratch.File("big"), PatternBytes(3 * 1024 * 1024 + 5, 2), 4)
      .File(scratch.File("exact"), PatternBytes(2048, 3), 5)
      .CompilationFiles(cdFiles, {memory.bytes});
  TStreamPlan plan = builder.Finish();
  TCacheThread thread(cdFiles, std::move(plan), kCachePackets);
  const std::vector<std::uint8_t> stream = Drain(thread);
  EXPECT_EQ(thread.Cache().End(), TCacheEnd::Done);
  ASSERT_EQ(stream.size(), builder.Image().size());
  EXPECT_TRUE(stream == builder.Image());
  // Requests are whole sectors; the last one reaches past the end of the file.
  ASSERT_EQ(memory.positions.size(), memory.requests.size());
  std::uint32_t expected = 0;
  for (std::size_t i = 0; i < memory.positions.size(); ++i) {
    EXPECT_EQ(memory.positions[i], expected);
    EXPECT_EQ(memory.requests[i] % 2048, 0u);
    EXPECT_LE(memory.requests[i], 65536u);
    expected += memory.requests[i];
  }
  EXPECT_EQ(expected, 71680u);
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), 0u);
}

TEST_F(CacheThreadTest, SourceFaultsEndTheStreamAsProducerFailedNamingTheFile) {
  struct Case {
    const char* name;
    std::function<void(TPlanBuilder&, const std::string& path)> add;
    const char16_t* namedAs = nullptr;  // null: the source file's path
  };
  std::vector<std::unique_ptr<TMemoryFile>> memories;  // outlive their streams
  const auto addMemoryFile = [&](TPlanBuilder& b, std::vector<std::uint8_t> bytes, std::uint32_t shortBy,
                                 std::int64_t size, const char16_t* name) {
    cdFiles.Files.clear();
    memories.push_back(std::make_unique<TMemoryFile>(cdFiles, bytes, shortBy));
    memories.back()->entry->FileSize = size;
    memories.back()->entry->LongName = name;
    b.CompilationFiles(cdFiles, {bytes});
  };
  const Case cases[] = {
      {"shrank", [](TPlanBuilder& b, const std::string& p) { b.File(p, PatternBytes(5000, 1), 1, 9000); }},
      {"grew", [](TPlanBuilder& b, const std::string& p) { b.File(p, PatternBytes(9000, 1), 1, 5000); }},
      {"grew-by-a-sector-tail", [](TPlanBuilder& b, const std::string& p) { b.File(p, PatternBytes(2049, 1), 1, 2048); }},
      {"vanished",
       [](TPlanBuilder& b, const std::string& p) {
         b.File(p, PatternBytes(100, 1), 1);
         std::filesystem::remove(p);
       }},
      {"short-handler",
       [&](TPlanBuilder& b, const std::string&) { addMemoryFile(b, PatternBytes(10000, 4), 1, 10000, u"memory.bin"); },
       u"memory.bin"},
      {"memory-4GiB",
       [&](TPlanBuilder& b, const std::string&) { addMemoryFile(b, {}, 0, std::int64_t{1} << 32, u"huge.bin"); },
       u"huge.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch.File(c.name);
    TPlanBuilder builder;
    builder.Bytes(PatternBytes(4096, 7));
    c.add(builder, path);
    TCacheThread thread(cdFiles, builder.Finish(), kCachePackets);
    (void)Drain(thread);
    EXPECT_EQ(thread.Cache().End(), TCacheEnd::ProducerFailed);
    const std::u16string text = TakeErrorStringW(cdFiles, device);
    EXPECT_EQ(text.rfind(u"Error opening file \\'", 0), 0u) << std::string(text.begin(), text.end());
    const std::u16string named = c.namedAs ? c.namedAs : std::u16string(path.begin(), path.end());
    EXPECT_NE(text.find(named), std::u16string::npos);
  }
}

TEST_F(CacheThreadTest, ALayoutThatDisagreesWithTheStreamFailsInsteadOfHanging) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(4096, 7));
  TStreamPlan plan = builder.Finish();
  plan.Items[0].Sector = 1;  // a gap before the first item
  TCacheThread gap(cdFiles, std::move(plan), kCachePackets);
  (void)Drain(gap);
  EXPECT_EQ(gap.Cache().End(), TCacheEnd::ProducerFailed);
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), erNotPrepared);

  TPlanBuilder longer;
  longer.Bytes(PatternBytes(40 * 2048, 7));
  plan = longer.Finish();
  plan.TotalSectors = 32;  // the items reach past the session
  TCacheThread tooLong(cdFiles, std::move(plan), kCachePackets);
  (void)Drain(tooLong);
  EXPECT_EQ(tooLong.Cache().End(), TCacheEnd::ProducerFailed);
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), erNotPrepared);
}

TEST_F(CacheThreadTest, TheClosingSectorIsWrittenBeforeTheFinalPacketIsQueued) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(32 * 2048, 7));
  TStreamPlan plan = builder.Finish();
  plan.TotalSectors = 64;  // items end on a packet boundary: the anchor takes a packet of its own
  plan.FinishLastSector = [](std::uint8_t* sector) { std::memset(sector, 0xA5, 2048); };
  TCacheThread thread(cdFiles, std::move(plan), kCachePackets);
  const auto stream = Drain(thread);
  ASSERT_EQ(stream.size(), 64u * 2048);
  EXPECT_EQ(thread.Cache().End(), TCacheEnd::Done);
  EXPECT_EQ(stream[63 * 2048], 0xA5);
  EXPECT_EQ(stream.back(), 0xA5);
  EXPECT_EQ(stream[62 * 2048], 0);
  EXPECT_EQ(stream[32 * 2048 - 1], PatternBytes(32 * 2048, 7).back());
}

// Either side can stop the other without a hang: the producer is blocked on a
// full cache in each case.
TEST_F(CacheThreadTest, AFullCacheStopsOnAbortOrWhenTheWriterLeaves) {
  for (const bool abort : {true, false}) {
    SCOPED_TRACE(abort ? "abort" : "writer leaves");
    cdFiles.Aborted = false;
    TPlanBuilder builder;
    builder.Bytes(PatternBytes(8 << 20, 1));
    TCacheThread thread(cdFiles, builder.Finish(), kCachePackets);
    ASSERT_TRUE(thread.Cache().WaitUntilCanStart());
    EXPECT_EQ(thread.Cache().PacketCount(), 32);
    if (abort) {
      cdFiles.Aborted = true;
    } else {
      thread.Cache().LeaveConsumer();
    }
    thread.Join();
    EXPECT_EQ(thread.Cache().End(), abort ? TCacheEnd::Aborted : TCacheEnd::ConsumerGone);
    EXPECT_EQ(thread.Cache().TakePackets(1).Count, 0u);
  }
}

TEST_F(CacheThreadTest, AnAbortAfterTheLastPacketWasQueuedStillStopsTheWriter) {
  TPlanBuilder builder;
  builder.Bytes(PatternBytes(64 * 2048, 1));
  TCacheThread thread(cdFiles, builder.Finish(), kCachePackets);
  thread.Join();
  EXPECT_EQ(thread.Cache().End(), TCacheEnd::Done);
  cdFiles.Aborted = true;
  EXPECT_EQ(thread.Cache().TakePackets(1).Count, 0u);
  EXPECT_EQ(thread.Cache().End(), TCacheEnd::Aborted);
}

}  // namespace
}  // namespace kilnor
