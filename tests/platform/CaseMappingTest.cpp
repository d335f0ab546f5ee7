#include <gtest/gtest.h>

#include "engine/platform/CaseMapping.h"

using kilnor::UpCaseChar;

namespace {

TEST(CaseMapping, MapsLettersOfTheCommonScripts) {
  struct Case {
    char16_t lower;
    char16_t upper;
  };
  const Case cases[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {u'\u00E9', u'\u00C9'}, {u'\u00FE', u'\u00DE'},
      {u'\u00FF', u'\u0178'}, {u'\u0101', u'\u0100'}, {u'\u013A', u'\u0139'}, {u'\u017E', u'\u017D'},
      {u'\u01C6', u'\u01C4'}, {u'\u01CE', u'\u01CD'}, {u'\u0219', u'\u0218'}, {u'\u03B1', u'\u0391'},
      {u'\u03C2', u'\u03A3'}, {u'\u03C3', u'\u03A3'}, {u'\u03CE', u'\u038F'}, {u'\u0430', u'\u0410'},
      {u'\u044F', u'\u042F'}, {u'\u0451', u'\u0401'}, {u'\u0491', u'\u0490'}, {u'\u04C2', u'\u04C1'},
      {u'\u0561', u'\u0531'}, {u'\u1EA1', u'\u1EA0'}, {u'\uFF41', u'\uFF21'},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UpCaseChar(c.lower), c.upper) << std::hex << static_cast<int>(c.lower);
    EXPECT_EQ(UpCaseChar(c.upper), c.upper) << std::hex << static_cast<int>(c.upper);
  }
}

TEST(CaseMapping, LeavesEverythingElseAlone) {
  for (char16_t unit : {u'1', u'_', u'~', u'\u00DF', u'\u00D7', u'\u00F7', u'\u0131', u'\u65E5',
                        u'\xD83D', u'\xDE00', u'\uFFFD'}) {
    EXPECT_EQ(UpCaseChar(unit), unit) << std::hex << static_cast<int>(unit);
  }
}

}  // namespace
