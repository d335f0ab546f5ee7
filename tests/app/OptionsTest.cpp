// The options dialog as the main window uses it: loaded from the component,
// shown, closed and stored back; the cache size text; the boot image path.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <fstream>
#include <map>
#include <string_view>

#include "ShellApplication.h"
#include "app/Options.h"

namespace velmor::shell::test {
namespace {

// The settings the dialog copies to and from the component.
struct TSettings {
  const char* Name;
  bool TestWrite;
  bool UDFBridge;
  bool FinalizeDisc;
  bool Joliet;
  bool BurnProof;
  std::u16string VolumeID;
  std::uint32_t CacheSize;
  bool RockRidge = true;
  bool RockRidgePublic = false;
};

void Configure(kilnor::TKilnorPro& kilnor, const TSettings& settings) {
  kilnor.SetTestWrite(settings.TestWrite);
  kilnor.SetUDFBridge(settings.UDFBridge);
  kilnor.SetFinalizeDisc(settings.FinalizeDisc);
  kilnor.SetJolietFileSystem(settings.Joliet);
  kilnor.SetBurnProof(settings.BurnProof);
  kilnor.SetVolumeIDW(settings.VolumeID);
  kilnor.SetCacheSize(settings.CacheSize);
  kilnor.SetRockRidge(settings.RockRidge);
  kilnor.SetRockRidgePublic(settings.RockRidgePublic);
}

void ExpectSettings(const kilnor::TKilnorPro& kilnor, const TSettings& settings) {
  EXPECT_EQ(kilnor.TestWrite(), settings.TestWrite);
  EXPECT_EQ(kilnor.UDFBridge(), settings.UDFBridge);
  EXPECT_EQ(kilnor.FinalizeDisc(), settings.FinalizeDisc);
  EXPECT_EQ(kilnor.JolietFileSystem(), settings.Joliet);
  EXPECT_EQ(kilnor.BurnProof(), settings.BurnProof);
  EXPECT_EQ(kilnor.VolumeIDW(), settings.VolumeID);
  EXPECT_EQ(kilnor.CacheSize(), settings.CacheSize);
  EXPECT_EQ(kilnor.RockRidge(), settings.RockRidge);
  EXPECT_EQ(kilnor.RockRidgePublic(), settings.RockRidgePublic);
}

class OptionsDialog : public testing::Test {
 protected:

  // Answers the next modal file dialog: chooses File, or cancels when it is
  // empty; remembers the folder it opened in.
  void AnswerFileDialog(const QString& file) {
    QTimer::singleShot(0, [this, file] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      openedIn = dialog->directory().absolutePath();
      if (file.isEmpty()) {
        dialog->reject();
        return;
      }
      dialog->selectFile(file);
      static_cast<QDialog*>(dialog)->accept();
    });
  }

  TfrmOptions options;
  kilnor::TKilnorPro kilnor;
  QString openedIn;
};

class OptionsRoundTrip : public OptionsDialog, public testing::WithParamInterface<TSettings> {};

TEST_P(OptionsRoundTrip, OpeningAndClosingWithoutChangesKeepsTheComponentsSettings) {
  Configure(kilnor, GetParam());
  options.LoadFromComponent(kilnor);
  options.show();
  options.close();
  options.StoreToComponent(kilnor);
  ExpectSettings(kilnor, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, OptionsRoundTrip,
    testing::Values(TSettings{"AllOn", true, true, true, true, true, u"BACKUP_2026", 625, true, true},
                    TSettings{"AllOff", false, false, false, false, false, u"", 2, false, false},
                    TSettings{"LongUnicodeLabel", false, true, false, true, false,
                              u"Grüße aus Köln — Fotos 2026", 64}),
    [](const testing::TestParamInfo<TSettings>& info) { return info.param.Name; });

TEST_F(OptionsDialog, AFirstBurnUsesTheDialogsValuesNotTheComponents) {
  kilnor.SetCacheSize(64);
  kilnor.SetVolumeID("CONFIGURED");
  options.StoreToComponent(kilnor);
  ExpectSettings(kilnor, {"Defaults", false, false, false, true, true, u"My Volume", 2});
}

TEST_F(OptionsDialog, EditsAreCopiedToTheComponentWhenItCloses) {
  options.chkTestWrite->setChecked(true);
  options.chkJolietFS->setChecked(false);
  options.edtVolumeID->setText(QStringLiteral("Holiday"));
  options.edtCacheSize->setText(QStringLiteral("abc"));
  options.chkRockRidgePublic->setChecked(true);
  options.chkRockRidge->setChecked(false);
  EXPECT_FALSE(options.chkRockRidgePublic->isEnabled()) << "readable by all means nothing without Rock Ridge";
  kilnor.SetCacheSize(64);
  options.StoreToComponent(kilnor);
  ExpectSettings(kilnor, {"Edited", true, false, false, false, true, u"Holiday", 2, false, true});
}

struct TCacheText {
  const char* Text;
  std::uint32_t Megabytes;
};

// A typed text as a test case name can spell it: " 16 " gives "Space16Space".
std::string SpelledOut(std::string_view Text) {
  static const std::map<char, const char*> kWords{{' ', "Space"}, {'+', "Plus"}, {'-', "Minus"}, {'.', "Dot"}};
  std::string name = Text.empty() ? "Empty" : "";
  for (const char c : Text) {
    const auto word = kWords.find(c);
    name += word == kWords.end() ? std::string(1, c) : word->second;
  }
  return name;
}

class CacheSizeText : public testing::TestWithParam<TCacheText> {};

TEST_P(CacheSizeText, GivesMegabytesWithinTheCachesRange) {
  EXPECT_EQ(TfrmOptions::CacheSizeOf(QString::fromUtf8(GetParam().Text)), GetParam().Megabytes);
}

INSTANTIATE_TEST_SUITE_P(Texts, CacheSizeText,
                         testing::Values(TCacheText{"64", 64}, TCacheText{" 16 ", 16}, TCacheText{"+8", 8},
                                         TCacheText{"625", 625}, TCacheText{"2", 2},
                                         // Not decimal integers: 2.
                                         TCacheText{"abc", 2}, TCacheText{"", 2}, TCacheText{"12abc", 2},
                                         TCacheText{"0x40", 2}, TCacheText{"1e3", 2}, TCacheText{"3.5", 2},
                                         TCacheText{"99999999999999999999", 2},
                                         // Outside what the packet table can hold: the nearest bound.
                                         TCacheText{"0", 2}, TCacheText{"-5", 2}, TCacheText{"626", 625},
                                         TCacheText{"4096", 625}),
                         [](const testing::TestParamInfo<TCacheText>& info) { return SpelledOut(info.param.Text); });

TEST_F(OptionsDialog, ShowingOffersTheProgramFoldersBootImage) {
  const QString expected = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("DosBootimage.IMA"));
  EXPECT_TRUE(options.edtBootImage->text().isEmpty());
  options.show();
  EXPECT_EQ(options.edtBootImage->text(), expected);
  EXPECT_TRUE(options.edtBootImage->isReadOnly());
  EXPECT_FALSE(options.chkBootImage->isChecked());
  options.close();
}

TEST_F(OptionsDialog, ABootImageTheUserChoseSurvivesTheNextShowing) {
  QTemporaryDir folder;
  const QString chosen = folder.filePath(QStringLiteral("boot.img"));
  std::ofstream(chosen.toStdString()) << std::string(2048, '\0');
  options.show();
  AnswerFileDialog(chosen);
  options.SpeedButton1->click();
  options.close();
  options.show();
  EXPECT_EQ(options.edtBootImage->text(), QDir::toNativeSeparators(chosen));
  options.close();
}

TEST_F(OptionsDialog, CancellingTheFileDialogKeepsThePathItStartedAt) {
  QTemporaryDir folder;
  const QString current = folder.filePath(QStringLiteral("DosBootimage.IMA"));
  options.edtBootImage->setText(current);
  AnswerFileDialog(QString());
  options.SpeedButton1Click();
  EXPECT_EQ(options.edtBootImage->text(), current);
  EXPECT_EQ(openedIn, QDir(folder.path()).absolutePath());
}

TEST_F(OptionsDialog, AComponentBootImageIsShownAndChecked) {
  QTemporaryDir folder;
  const QString image = folder.filePath(QStringLiteral("boot.img"));
  std::ofstream(image.toStdString()) << std::string(2048, '\0');
  kilnor.SetBootImage(image.toStdString());
  ASSERT_EQ(kilnor.BootImage(), image.toStdString());
  options.LoadFromComponent(kilnor);
  options.show();
  EXPECT_EQ(options.edtBootImage->text(), image);
  EXPECT_TRUE(options.chkBootImage->isChecked());
  options.close();
}

TEST_F(OptionsDialog, LoadingWithoutABootImageNeverUnchecksTheBox) {
  options.chkBootImage->setChecked(true);
  options.LoadFromComponent(kilnor);
  EXPECT_TRUE(options.chkBootImage->isChecked());
}

}  // namespace
}  // namespace velmor::shell::test
