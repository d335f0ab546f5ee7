#include "engine/image/Hash.h"

#include <gtest/gtest.h>

#include <string>

namespace kilnor {
namespace {

struct TDigestCase {
  const char* name;
  std::string input;
  const char* digest;  // md5sum of the same bytes, upper-cased
};

// Lengths 55, 56, 63 and 64 sit on either side of the padding's length field.
const TDigestCase kDigestCases[] = {
    {"empty", "", "D41D8CD98F00B204E9800998ECF8427E"},
    {"abc", "abc", "900150983CD24FB0D6963F7D28E17F72"},
    {"a55", std::string(55, 'a'), "EF1772B6DFF9A122358552954AD0DF65"},
    {"a56", std::string(56, 'a'), "3B0C8AC703F828B04C6C197006D17218"},
    {"a63", std::string(63, 'a'), "B06521F39153D618550606BE297466D5"},
    {"a64", std::string(64, 'a'), "014842D480B571495A4A0363793F7367"},
};

class MD5DigestTest : public testing::TestWithParam<TDigestCase> {};

TEST_P(MD5DigestTest, MatchesTheReferenceDigest) {
  TMD5Stream md5;
  EXPECT_EQ(md5.Write(GetParam().input.data(), GetParam().input.size()), GetParam().input.size());
  EXPECT_EQ(md5.DigestString(), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(Rfc1321, MD5DigestTest, testing::ValuesIn(kDigestCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MD5StreamTest, PiecesHashLikeTheWholeAndSeekCountsThem) {
  const std::string text(100, 'a');
  TMD5Stream md5;
  md5.Write(text.data(), 37);
  md5.Write(text.data(), 0);
  md5.Write(text.data() + 37, 63);
  EXPECT_EQ(md5.Seek(12345, 0), 100);
  TMD5Stream whole;
  whole.Write(text.data(), text.size());
  EXPECT_EQ(md5.DigestString(), whole.DigestString());
}

TEST(MD5StreamTest, ReadingTheDigestStartsAfresh) {
  TMD5Stream md5;
  md5.Write("abc", 3);
  (void)md5.DigestString();
  EXPECT_EQ(md5.Seek(0, 0), 0);
  EXPECT_EQ(md5.DigestString(), "D41D8CD98F00B204E9800998ECF8427E");
  char byte = 0;
  EXPECT_EQ(md5.Read(&byte, 1), 0u);
}

}  // namespace
}  // namespace kilnor
