#include "engine/write/ErrorTexts.h"

#include <gtest/gtest.h>

namespace kilnor {
namespace {

struct TextCase {
  std::uint32_t number;
  const char16_t* fileName;  // null: no file recorded
  const char* text;
  const char16_t* textW;
};

const TextCase kTextCases[] = {
    {0, nullptr, "Unknown/No Error!", u"Unknown/No Error!"},
    {1, nullptr, "Data not prepared ", u"Data not prepared"},
    {2, u"/src/a b.txt", "Error opening file \\/src/a b.txt\\", u"Error opening file \\'/src/a b.txt\\'"},
    {2, nullptr, "Error opening file", u"Error opening file"},
    {3, u"/out/x.iso", "Error creating file \\/out/x.iso\\", u"Error creating file \\'/out/x.iso\\'"},
    {3, nullptr, "Error creating file", u"Error creating file"},
    {4, nullptr, "Aborted by user", u"Aborted by user"},
    {erImportFailed, nullptr, "Session cannot be imported", u"Session cannot be imported"},
    {erWriteRunning, nullptr, "A write is running: wait until it has ended",
     u"A write is running: wait until it has ended"},
    {12293, nullptr, "Hardware Error 12293", u"Hardware Error \\'12293"},
    {1032, nullptr, "Hardware Error 1032", u"Hardware Error \\'1032"},
    {2, u"/d/\u00e9t\u00e9 \U0001F4BF.txt", "Error opening file \\/d/\xc3\xa9t\xc3\xa9 \xf0\x9f\x92\xbf.txt\\",
     u"Error opening file \\'/d/\u00e9t\u00e9 \U0001F4BF.txt\\'"},
};

TEST(ErrorTexts, EachNumberHasItsTexts) {
  for (const TextCase& c : kTextCases) {
    const std::u16string name = c.fileName ? c.fileName : u"";
    const std::u16string* namePtr = c.fileName ? &name : nullptr;
    EXPECT_EQ(ErrorText(c.number, namePtr), c.text) << c.number;
    EXPECT_EQ(ErrorTextW(c.number, namePtr), c.textW) << c.number;
  }
}

TEST(ErrorTexts, LongFileNamesAreCutToFitWithoutSplittingCharacters) {
  // "Error opening file \a" is 21 bytes, so the 256-byte limit falls inside an é.
  const std::u16string name = u"a" + std::u16string(300, u'\u00e9');
  const std::string text = ErrorText(erFileOpen, &name);
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(text.substr(text.size() - 2), "\xc3\xa9");

  std::u16string pairs;
  for (int i = 0; i < 200; ++i) pairs += u"\U0001F4BF";
  const std::u16string textW = ErrorTextW(erFileOpen, &pairs);
  EXPECT_LE(textW.size(), kErrorTextUnits);
  EXPECT_FALSE(textW.back() >= 0xD800 && textW.back() <= 0xDBFF) << "split surrogate pair";
}

class ErrorNumberTest : public ::testing::Test {
 protected:
  TCDFiles cdFiles;
  TSCSIDevice device;
};

TEST_F(ErrorNumberTest, ReadingConsumesTheError) {
  RecordError(cdFiles, erAborted);
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Aborted by user");
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Unknown/No Error!");
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), 0u);
}

TEST_F(ErrorNumberTest, EngineErrorHidesDriveErrorUntilRead) {
  device.DeviceError = 0x3005;
  RecordFileError(cdFiles, erFileOpen, u"/gone.bin");
  EXPECT_EQ(TakeErrorStringW(cdFiles, device), u"Error opening file \\'/gone.bin\\'");
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), 12293u);
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), 0u);
}

TEST_F(ErrorNumberTest, FirstFailureOfAnOperationIsKept) {
  RecordFileError(cdFiles, erFileOpen, u"/first");
  RecordFileError(cdFiles, erFileCreate, u"/second");
  RecordError(cdFiles, erAborted);
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error opening file \\/first\\");
  ClearError(cdFiles);
  RecordError(cdFiles, erAborted);
  EXPECT_EQ(TakeErrorNumber(cdFiles, device), erAborted);
}

TEST_F(ErrorNumberTest, FileNameIsAnOwnedCopy) {
  {
    std::u16string transient = u"/tmp/short-lived";
    RecordFileError(cdFiles, erFileOpen, transient);
    transient.assign(40, u'x');
  }
  EXPECT_EQ(TakeErrorString(cdFiles, device), "Error opening file \\/tmp/short-lived\\");
}

}  // namespace
}  // namespace kilnor
