// The encodings every UDF structure is built from: the descriptor CRC, CS0
// names, timestamps, sealed tags and allocation extents.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/image/ECMA_167.h"
#include "engine/image/UDFTime.h"
#include "engine/image/UDFUnicode.h"
#include "engine/image/UDFUtils.h"
#include "engine/image/UDF_CRC.h"

using namespace kilnor;

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Bit by bit, straight from the polynomial x^16 + x^12 + x^5 + 1.
std::uint16_t BitwiseCrc(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t byte : bytes) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

std::vector<std::uint8_t> Compressed(std::u16string_view text, std::uint8_t id) {
  std::vector<std::uint8_t> out(CompressedLength(text, id));
  EXPECT_EQ(CompressUnicode(text, id, out), out.size());
  return out;
}

}  // namespace

TEST(UDFCrc, KnownValues) {
  EXPECT_EQ(CrcItuT(Bytes("123456789")), 0x31C3);
  const std::vector<std::uint8_t> ecmaExample = {0x70, 0x6A, 0x77};
  EXPECT_EQ(CrcItuT(ecmaExample), 0x3299);
  EXPECT_EQ(CrcItuT({}), 0);
}

TEST(UDFCrc, MatchesBitwiseForEveryLengthAndSplit) {
  std::vector<std::uint8_t> data(2100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 3));
  for (std::size_t length : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 496u, 2032u, 2100u}) {
    const auto part = std::span(data).first(length);
    EXPECT_EQ(CrcItuT(part), BitwiseCrc(part)) << length;
    const std::size_t half = length / 3;
    EXPECT_EQ(CrcItuT(part.subspan(half), CrcItuT(part.first(half))), BitwiseCrc(part)) << length;
  }
}

TEST(UDFUnicode, CompressionForms) {
  EXPECT_EQ(Compressed(u"Data", kCompressionId16),
            (std::vector<std::uint8_t>{0x10, 0x00, 0x44, 0x00, 0x61, 0x00, 0x74, 0x00, 0x61}));
  EXPECT_EQ(Compressed(u"Data", kCompressionId8), (std::vector<std::uint8_t>{0x08, 'D', 'a', 't', 'a'}));
  EXPECT_EQ(Compressed(u"\u00e9\u4e2d", kCompressionId16),
            (std::vector<std::uint8_t>{0x10, 0x00, 0xE9, 0x4E, 0x2D}));
}

TEST(UDFUnicode, ChoosesTheCompressionThatHoldsTheName) {
  const std::u16string narrow200(200, u'n');
  const std::u16string wide127(127, u'\u4e2d');
  const std::u16string wide128(128, u'\u4e2d');
  struct Case {
    std::u16string text;
    std::optional<std::uint8_t> expected;
  } cases[] = {
      {u"readme.txt", kCompressionId16},
      {std::u16string(127, u'x'), kCompressionId16},
      {std::u16string(128, u'x'), kCompressionId8},      // too long for 16-bit, narrow
      {narrow200 + u"\u00ff", kCompressionId8},          // Latin-1 still narrow
      {std::u16string(254, u'x'), kCompressionId8},
      {std::u16string(255, u'x'), std::nullopt},
      {wide127, kCompressionId16},
      {wide128, std::nullopt},
      {std::u16string(120, u'x') + u"\u4e2d" + std::u16string(10, u'x'), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseCompression(c.text, 255), c.expected) << c.text.size();
}

TEST(UDFUnicode, PrefixIsCutBetweenCharacters) {
  // 15 wide units fit a 31-byte identifier; a pair straddling the cut is dropped whole.
  const std::u16string pairAtCut = std::u16string(14, u'\u4e2d') + u"\U0001F600" + u"z";
  EXPECT_EQ(FittingPrefix(pairAtCut, 31), std::u16string(14, u'\u4e2d'));
  const std::u16string pairBefore = std::u16string(13, u'\u4e2d') + u"\U0001F600" + u"zz";
  EXPECT_EQ(FittingPrefix(pairBefore, 31).size(), 15u);
  // Narrow text keeps up to 30 characters through 8-bit compression.
  EXPECT_EQ(FittingPrefix(std::u16string(31, u'L'), 31), std::u16string(30, u'L'));
  EXPECT_EQ(FittingPrefix(u"Data", 31), u"Data");
}

TEST(UDFUnicode, ShortenedNamesFitAndKeepTheExtension) {
  const std::u16string stem(200, u'\u4e2d');
  const std::u16string name = stem + u".txt";
  for (std::uint32_t n : {1u, 9u, 10u, 12345u}) {
    const std::u16string s = ShortenedName(name, 255, n);
    EXPECT_TRUE(ChooseCompression(s, 255).has_value());
    EXPECT_EQ(s.size(), 127u);
    const std::string digits = std::to_string(n);
    EXPECT_TRUE(s.ends_with(u"~" + std::u16string(digits.begin(), digits.end()) + u".txt"));
  }
  // A surrogate pair at the cut is not split.
  std::u16string emoji;
  for (int i = 0; i < 100; ++i) emoji += u"\U0001F600";
  const std::u16string s = ShortenedName(emoji, 255, 1);
  EXPECT_TRUE(ChooseCompression(s, 255).has_value());
  EXPECT_EQ(s, emoji.substr(0, 124) + u"~1");
}

TEST(UDFTime, SplitsGreenwichTimeWithTheOffset) {
  using namespace std::chrono;
  const auto at = sys_days{2024y / February / 29} + 23h + 50min + 7s + 999ms;
  const TUDFTimestamp utc = MakeUDFTimestamp(at, 0);
  EXPECT_EQ(utc.TypeAndTimezone, 0x1000);
  EXPECT_EQ(utc.Year, 2024);
  EXPECT_EQ(utc.Month, 2);
  EXPECT_EQ(utc.Day, 29);
  EXPECT_EQ(utc.Hour, 23);
  EXPECT_EQ(utc.Minute, 50);
  EXPECT_EQ(utc.Second, 7);
  EXPECT_EQ(utc.Centiseconds, 0);

  const TUDFTimestamp east = MakeUDFTimestamp(at, 60);   // one hour east: next day
  EXPECT_EQ(east.TypeAndTimezone, 0x1000 | 60);
  EXPECT_EQ(east.Month, 3);
  EXPECT_EQ(east.Day, 1);
  EXPECT_EQ(east.Hour, 0);

  const TUDFTimestamp west = MakeUDFTimestamp(sys_days{2000y / January / 1} + 1h, -300);
  EXPECT_EQ(west.TypeAndTimezone, 0x1000 | (static_cast<std::uint16_t>(-300) & 0x0FFF));
  EXPECT_EQ(west.Year, 1999);
  EXPECT_EQ(west.Month, 12);
  EXPECT_EQ(west.Day, 31);
  EXPECT_EQ(west.Hour, 20);

  EXPECT_EQ(MakeUDFTimestamp(at, 100000).TypeAndTimezone, 0x1000);
}

TEST(UDFTags, SealedTagCarriesChecksumAndCrcOfTheBody) {
  std::vector<std::uint8_t> sector(2048, 0xEE);
  TAnchorVolumeDescriptorPointer avdp;
  avdp.MainVolumeDescriptorSequenceExtent = {32768, 100032};
  const auto size = WriteDescriptor(std::span(sector), avdp, 100256);
  ASSERT_EQ(size, 512u);
  EXPECT_EQ(sector[0] | sector[1] << 8, 2);                  // identifier
  EXPECT_EQ(sector[2] | sector[3] << 8, 2);                  // version
  EXPECT_EQ(sector[6] | sector[7] << 8, 1);                  // serial number
  EXPECT_EQ(sector[10] | sector[11] << 8, 496);              // CRC length
  EXPECT_EQ(sector[12] | sector[13] << 8 | sector[14] << 16 | sector[15] << 24, 100256);
  EXPECT_EQ(sector[8] | sector[9] << 8, BitwiseCrc(std::span(sector).subspan(16, 496)));
  std::uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (i != 4) sum = static_cast<std::uint8_t>(sum + sector[i]);
  }
  EXPECT_EQ(sector[4], sum);
  EXPECT_EQ(sector[512], 0xEE);                               // nothing past the descriptor
}

TEST(UDFTags, DescriptorThatDoesNotFitIsRefused) {
  std::vector<std::uint8_t> small(100);
  EXPECT_FALSE(WriteDescriptor(std::span(small), TTerminatingDescriptor{}, 1).has_value());
}

TEST(UDFExtents, LargeLengthsSplitBelowTheExtentTypeBits) {
  std::array<TShortAd, kMaxFileEntryExtents> ads{};
  struct Case {
    std::uint64_t length;
    std::size_t extents;
  } cases[] = {
      {1, 1},
      {2048, 1},
      {(1ull << 30) - 2048, 1},
      {1ull << 30, 2},
      {(4ull << 30) + 5, 5},
  };
  for (const Case& c : cases) {
    const auto count = SplitIntoExtents(c.length, 1000, ads);
    ASSERT_TRUE(count.has_value()) << c.length;
    EXPECT_EQ(*count, c.extents) << c.length;
    std::uint64_t total = 0;
    std::uint32_t expectedBlock = 1000;
    for (std::size_t i = 0; i < *count; ++i) {
      EXPECT_LT(ads[i].ExtentLength, 1u << 30);              // type bits stay 0 (recorded)
      EXPECT_EQ(ads[i].ExtentPosition, expectedBlock);
      if (i + 1 < *count) {
        EXPECT_EQ(ads[i].ExtentLength % 2048, 0u);
      }
      expectedBlock += ads[i].ExtentLength / 2048;
      total += ads[i].ExtentLength;
    }
    EXPECT_EQ(total, c.length);
  }
}

TEST(UDFExtents, RefusesWhatOneEntryOrTheBlockRangeCannotHold) {
  std::array<TShortAd, 2> two{};
  EXPECT_FALSE(SplitIntoExtents(3ull << 30, 0, two).has_value());
  std::array<TShortAd, kMaxFileEntryExtents> ads{};
  EXPECT_FALSE(SplitIntoExtents(4096, 0xFFFFFFFFu, ads).has_value());
  EXPECT_EQ(SplitIntoExtents(0, 5, ads), std::optional<std::size_t>(0));
}
