#include <gtest/gtest.h>

#include "engine/platform/Unicode.h"

using namespace kilnor;

namespace {

struct RoundTripCase {
  const char* label;
  std::string utf8;
  std::u16string utf16;
};

class UnicodeRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(UnicodeRoundTrip, ConvertsBothWays) {
  const RoundTripCase& c = GetParam();
  EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, UnicodeRoundTrip,
    ::testing::Values(RoundTripCase{"empty", "", u""},
                      RoundTripCase{"ascii", "readme.txt", u"readme.txt"},
                      RoundTripCase{"latin", "Gr\xC3\xBC\xC3\x9F" "e", u"Gr\u00FC\u00DFe"},
                      RoundTripCase{"cjk", "\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C"},
                      RoundTripCase{"emoji pair", "a\xF0\x9F\x98\x80z", u"a\U0001F600z"},
                      RoundTripCase{"top of range", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
                      // Bytes that are no valid UTF-8 survive as escaped surrogates.
                      RoundTripCase{"stray byte", "a\xFFz", u"a\xDCFFz"},
                      RoundTripCase{"latin-1 name", "caf\xE9", u"caf\xDCE9"},
                      RoundTripCase{"truncated sequence", "x\xE6\x97", u"x\xDCE6\xDC97"},
                      RoundTripCase{"overlong slash", "\xC0\xAF", u"\xDCC0\xDCAF"},
                      RoundTripCase{"encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"}),
    [](const auto& info) {
      std::string name = info.param.label;
      for (char& ch : name) {
        if (ch == ' ' || ch == '-') ch = '_';
      }
      return name;
    });

TEST(Unicode, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', u'\xDC00'}), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'\xDBFF', u'b'}), "\xEF\xBF\xBD" "b");
}

TEST(Unicode, ValidatesUtf8) {
  EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9\xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_FALSE(IsValidUtf8("\xF5\x80\x80\x80"));
}

TEST(Unicode, PrefixesNeverSplitACharacter) {
  const std::string text = "ab\xC3\xA9\xE6\x97\xA5";  // a b é 日
  EXPECT_EQ(Utf8PrefixLength(text, 100), text.size());
  EXPECT_EQ(Utf8PrefixLength(text, 3), 2u);
  EXPECT_EQ(Utf8PrefixLength(text, 4), 4u);
  EXPECT_EQ(Utf8PrefixLength(text, 6), 4u);
  EXPECT_EQ(Utf8PrefixLength("\xFF\xFF\xFF", 2), 2u);

  const std::u16string wide = u"ab\U0001F600";
  EXPECT_EQ(Utf16PrefixLength(wide, 3), 2u);
  EXPECT_EQ(Utf16PrefixLength(wide, 4), 4u);
  EXPECT_EQ(Utf16PrefixLength(wide, 1), 1u);
}

}  // namespace
