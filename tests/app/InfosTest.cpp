// The media information window filled from the emulated recorder, as the
// "Media Infos" button fills it, and the medium names it shows.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ShellApplication.h"
#include "app/Infos.h"
#include "tests/device/EmulatedDrive.h"

namespace velmor::shell::test {
namespace {

using kilnor::test::Emulator;
using kilnor::test::kBinDir;

// A component on a fresh emulated drive; numbers shown the way an English
// (United States) desktop shows them.
class InfosWindow : public testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ASSERT_EQ(Emulator("reset"), 0);
  }
  void TearDown() override { QLocale::setDefault(QLocale::c()); }

  void Open() {
    ASSERT_TRUE(kilnor.InitializeASPI(true, kBinDir + "/libvelmor-recorder.so", ""));
    ASSERT_TRUE(kilnor.SelectDevice(0));
    infos.Fill(kilnor);
  }

  // Each write box with the emulator's name of its medium kind.
  [[nodiscard]] std::vector<std::pair<std::string, QCheckBox*>> WriteBoxes() const {
    return {{"cd-r", infos.CheckDC_WRITE_CDR},         {"cd-rw", infos.CheckDC_WRITE_CDRW},
            {"dvd-ram", infos.CheckDC_WRITE_DVDRAM},   {"dvd-r", infos.CheckDC_WRITE_DVDR},
            {"dvd-rw", infos.CheckDC_WRITE_DVDRW},     {"dvd+r", infos.CheckDC_WRITE_DVDPLUSR},
            {"dvd+r-dl", infos.CheckDC_WRITE_DVDPLUSRDL}, {"dvd+rw", infos.CheckDC_WRITE_DVDPLUSRW},
            {"hd-dvd-r", infos.CheckDC_WRITE_HDDVDR}, {"hd-dvd-ram", infos.CheckDC_WRITE_HDDVDRAM},
            {"bd-r", infos.CheckDC_WRITE_BDR},         {"bd-re", infos.CheckDC_WRITE_BDRE}};
  }

  kilnor::TKilnorPro kilnor;
  TFrmInfos infos;
};

struct TMediumCase {
  const char* Name;
  const char* Kind;  // velmor-emulator insert KIND
  const char* Shown;
  bool Erasable;
  bool Writable;
};

class InfosOnMedium : public InfosWindow, public testing::WithParamInterface<TMediumCase> {};

TEST_P(InfosOnMedium, ShowsTheMediumAndWhatCanBeDoneWithIt) {
  ASSERT_EQ(Emulator(std::string("insert ") + GetParam().Kind), 0);
  Open();
  EXPECT_TRUE(infos.CheckTestUnitReady->isChecked());
  EXPECT_EQ(infos.LabelDiscIs->text(), QString::fromLatin1(GetParam().Shown));
  EXPECT_EQ(infos.CheckErasable->isChecked(), GetParam().Erasable);
  EXPECT_EQ(infos.CheckWritable->isChecked(), GetParam().Writable);
}

INSTANTIATE_TEST_SUITE_P(Media, InfosOnMedium,
                         testing::Values(TMediumCase{"DvdPlusRw", "dvd+rw", "DVDPLUSRW", true, true},
                                         TMediumCase{"BdRe", "bd-re", "BDRE", true, true},
                                         TMediumCase{"BdR", "bd-r", "BDR", false, true},
                                         TMediumCase{"HdDvdR", "hd-dvd-r", "HDDVDR", false, true},
                                         TMediumCase{"CdRw", "cd-rw", "CDRW", true, true},
                                         TMediumCase{"CdRom", "cd-rom", "CDROM", false, false}),
                         [](const testing::TestParamInfo<TMediumCase>& info) { return info.param.Name; });

TEST_F(InfosWindow, ShowsSizesInMegabytesAndSpeedsInKilobytesPerSecond) {
  ASSERT_EQ(Emulator("insert dvd+rw"), 0);
  ASSERT_TRUE(kilnor.InitializeASPI(true, kBinDir + "/libvelmor-recorder.so", ""));
  ASSERT_TRUE(kilnor.SelectDevice(0));
  kilnor.SetDeviceSpeed(2770, 5540);
  infos.Fill(kilnor);
  // 2,295,104 blocks of 2,048 bytes.
  EXPECT_EQ(infos.LabelTotalBlocksOnDisc->text(), QStringLiteral("4,482.63 MB"));
  EXPECT_EQ(infos.LabelFreeBlocksOnDisc->text(), QStringLiteral("4,482.63 MB"));
  EXPECT_EQ(infos.LabelMaxWriteSpeed->text(), QStringLiteral(" 22,160 KB/s"));
  EXPECT_EQ(infos.LabelReadSpeed->text(), QStringLiteral(" 11,080 KB/s"));
  EXPECT_EQ(infos.LabelWriteSpeed->text(), QStringLiteral(" 5,540 KB/s"));
  EXPECT_EQ(infos.LabelDeviceMaxReadSpeed->text(), QStringLiteral(" 22,160 KB/s"));
  EXPECT_EQ(infos.LabelDeviceMaxWriteSpeed->text(), QStringLiteral(" 22,160 KB/s"));
}

TEST_F(InfosWindow, WithoutAMediumShowsTheUnreadyState) {
  ASSERT_EQ(Emulator("remove"), 0);
  Open();
  EXPECT_FALSE(infos.CheckTestUnitReady->isChecked());
  EXPECT_FALSE(infos.CheckErasable->isChecked());
  EXPECT_FALSE(infos.CheckWritable->isChecked());
  EXPECT_EQ(infos.LabelDiscIs->text(), QStringLiteral("UNKNOWN"));
  EXPECT_EQ(infos.LabelTotalBlocksOnDisc->text(), QStringLiteral("0.00 MB"));
  EXPECT_EQ(infos.LabelFreeBlocksOnDisc->text(), QStringLiteral("0.00 MB"));
}

TEST_F(InfosWindow, EachCapabilityBoxShowsTheDrivesAnswerForItsMedium) {
  // The engine asks the drive by feature, and a feature covers both HD DVD
  // kinds; every other box answers for its own kind.
  const std::vector<std::string> writes{"cd-r", "cd-rw", "dvd-ram", "hd-dvd-r", "hd-dvd-ram"};
  ASSERT_EQ(Emulator("set writes cd-r,cd-rw,dvd-ram,hd-dvd-r,hd-dvd-ram"), 0);
  ASSERT_EQ(Emulator("insert cd-r"), 0);
  Open();
  for (const auto& [kind, box] : WriteBoxes()) {
    EXPECT_EQ(box->isChecked(), std::find(writes.begin(), writes.end(), kind) != writes.end()) << kind;
  }
  // It reads the families it writes, and every CD.
  EXPECT_TRUE(infos.CheckDC_READ_CDR->isChecked());
  EXPECT_TRUE(infos.CheckDC_READ_HDDVDROM->isChecked());
  EXPECT_FALSE(infos.CheckDC_READ_BDROM->isChecked());
  EXPECT_FALSE(infos.CheckDC_READ_BDRE->isChecked());
  EXPECT_TRUE(infos.CheckDC_TEST_WRITE->isChecked());
  EXPECT_TRUE(infos.CheckDC_UNDERRUNPROTECTION->isChecked());
}

TEST_F(InfosWindow, ItsBoxesTakeNoClicks) {
  infos.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&infos));
  // Through the window, as a person's click arrives.
  const QPoint indicator = infos.CheckErasable->mapTo(&infos, QPoint(8, infos.CheckErasable->height() / 2));
  QTest::mouseClick(infos.windowHandle(), Qt::LeftButton, {}, indicator);
  EXPECT_FALSE(infos.CheckErasable->isChecked());
  infos.close();
}

struct TNameCase {
  int Value;
  const char* Name;
};

class MediumNames : public testing::TestWithParam<TNameCase> {};

TEST_P(MediumNames, NameEachMediumKind) {
  EXPECT_EQ(MediumName(static_cast<kilnor::TMedium>(GetParam().Value)), QString::fromLatin1(GetParam().Name));
}

INSTANTIATE_TEST_SUITE_P(Values, MediumNames,
                         testing::Values(TNameCase{kilnor::mtUNKNOWN, "mtUNKNOWN"}, TNameCase{kilnor::mtCDR, "mtCDR"},
                                         TNameCase{kilnor::mtDVDPLUSRW, "mtDVDPLUSRW"},
                                         TNameCase{kilnor::mtDVDPLUSRDL, "mtDVDPLUSRDL"},
                                         TNameCase{kilnor::mtBDROM, "mtBDROM"},
                                         // A sequential-recording BD-R shows as a plain BD-R.
                                         TNameCase{kilnor::mtBDRSR, "mtBDR"}, TNameCase{kilnor::mtBDRRR, "mtBDRRR"},
                                         TNameCase{kilnor::mtBDRE, "mtBDRE"}, TNameCase{kilnor::mtHDDVDR, "mtHDDVDR"},
                                         TNameCase{kilnor::mtDDCDRW, "mtDDCDRW"},
                                         // A value past the enumeration: unknown, not a read past the table.
                                         TNameCase{23, "mtUNKNOWN"}, TNameCase{255, "mtUNKNOWN"}),
                         [](const testing::TestParamInfo<TNameCase>& info) {
                           return std::string(info.param.Name) + "From" + std::to_string(info.param.Value);
                         });

}  // namespace
}  // namespace velmor::shell::test
