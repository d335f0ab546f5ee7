// Names and labels as the trees record them: what a reader cannot show is
// replaced, every name stays unique, and the ISO 9660 label holds only
// d-characters while the Unicode trees keep the label.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "HeaderReader.h"
#include "LayoutFixture.h"
#include "engine/image/ISO9660.h"
#include "engine/image/Identifiers.h"
#include "engine/platform/Unicode.h"

namespace kilnor::test {
namespace {

struct TLabelCase {
  const char* Label;
  const char* Iso;            // the primary descriptor's 32 bytes, padded
  std::u16string Joliet;      // the Joliet descriptor's first characters
};

TEST(RecordedNames, ThePrimaryLabelHoldsOnlyDCharactersAndJolietKeepsTheLabel) {
  const std::vector<TLabelCase> cases = {
      {"Photos 2014", "PHOTOS_2014", u"Photos 2014"},
      {"abc-def.ghi", "ABC_DEF_GHI", u"abc-def.ghi"},
      {"\xC3\xA9t\xC3\xA9", "_T_", u"\u00E9t\u00E9"},
      {"tab\there", "TAB_HERE", u"tab_here"},
      {"A_Z09", "A_Z09", u"A_Z09"},
      {"\xF0\x9F\x93\xB7 cam", "__CAM", u"\U0001F4F7 cam"},
  };
  for (const TLabelCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TCompilation comp;
    comp.SetLabel(c.Label);
    Prepare(comp.cd);
    ASSERT_TRUE(GenerateHeader(comp.cd));
    THeaderReader h(comp.cd);
    std::string iso = c.Iso;
    iso.resize(32, ' ');
    EXPECT_EQ(h.Text(16, 40, 32), iso);
    EXPECT_EQ(h.Text(17, 40, c.Joliet.size() * 2), Ucs2(c.Joliet));
  }
}

bool HasControlOrLoneSurrogate(std::u16string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t unit = name[i];
    if (unit < 0x20) return true;
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

// Source names: a control character, a Latin-1 byte (not UTF-8), a name that
// the replacement would turn into its neighbour's, and ordinary ones.
const std::vector<std::u16string> kAwkwardNames = {
    u"a\x01" u"b.txt", u"a_b.txt", u"tab\there.txt", Utf8ToUtf16("caf\xE9.txt"), u"line\nbreak",
    u"plain.txt",      u"\U0001F4F7.jpg"};

TEST(RecordedNames, JolietAndUDFNamesReplaceWhatAReaderCannotShowAndStayUnique) {
  TCompilation comp;
  comp.cd.UDFBridge = true;
  for (const std::u16string& name : kAwkwardNames) comp.AddFile(comp.root(), name, 10);
  ASSERT_GT(Prepare(comp.cd), 0u) << comp.cd.UDFBridgeInfo.LayoutError;
  std::set<std::u16string> joliet;
  std::set<std::u16string> udf;
  for (pFileEntry e = comp.root()->Files; e != nullptr; e = e->NextFile) {
    SCOPED_TRACE(Utf16ToUtf8(e->LongName));
    const std::u16string j(JolietIdentifier(*e));
    const auto renamed = comp.cd.UDFBridgeInfo.ShortenedNames.find(e);
    const std::u16string u = renamed != comp.cd.UDFBridgeInfo.ShortenedNames.end() ? renamed->second : e->LongName;
    EXPECT_FALSE(HasControlOrLoneSurrogate(j));
    EXPECT_FALSE(HasControlOrLoneSurrogate(u));
    EXPECT_TRUE(joliet.insert(j).second) << "Joliet names are unique";
    EXPECT_TRUE(udf.insert(u).second) << "UDF names are unique";
  }
  for (const std::u16string_view kept : {u"a_b.txt", u"plain.txt", u"\U0001F4F7.jpg", u"caf\uFFFD.txt",
                                     u"tab_here.txt", u"line_break"}) {
    EXPECT_TRUE(joliet.contains(std::u16string(kept))) << Utf16ToUtf8(kept);
    EXPECT_TRUE(udf.contains(std::u16string(kept))) << Utf16ToUtf8(kept);
  }
  pFileEntry original = comp.root()->Files;
  while (original != nullptr && original->LongName != u"a_b.txt") original = original->NextFile;
  ASSERT_NE(original, nullptr);
  EXPECT_TRUE(original->Extras.get().IdentifierJoliet.empty()) << "a name that needed no change keeps it";
  EXPECT_FALSE(comp.cd.UDFBridgeInfo.ShortenedNames.contains(original));
}

TEST(RecordedNames, RecordableNameReplacesOnlyControlsAndLoneSurrogates) {
  const struct {
    std::u16string In;
    std::u16string Out;
  } cases[] = {
      {u"ok name.txt", u"ok name.txt"},
      {std::u16string(u"\x00\x1F\x20", 3), u"__ "},
      {u"\U0001F4F7", u"\U0001F4F7"},
      {std::u16string(1, char16_t(0xDC80 + 0xE9)), u"\uFFFD"},
      {std::u16string(1, char16_t(0xD83D)) + u"x", u"\uFFFDx"},
      {u"x" + std::u16string(1, char16_t(0xD83D)), u"x\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(RecordableName(c.In), c.Out) << Utf16ToUtf8(c.In);
}

}  // namespace
}  // namespace kilnor::test
