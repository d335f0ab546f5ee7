// The about box: the build's version, the link to the web site, closing by
// a click on the picture.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include "ShellApplication.h"
#include "app/Info.h"
#include "engine/KilnorPro.h"

namespace velmor::shell::test {
namespace {

// Stands in for the desktop's web browser.
class TUrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> Opened;

 public slots:
  void Open(const QUrl& url) { Opened.append(url); }
};

class AboutBox : public testing::Test {
 protected:
  TfrmInfo about;
};

TEST_F(AboutBox, ShowsTheBuildsVersionInFourFields) {
  EXPECT_EQ(about.Label3->text(), QStringLiteral("version 3.1.xx.xx"));
  about.show();
  const QString projectVersion = QString::fromStdString(kilnor::TKilnorPro::Version()).section(QLatin1Char(' '), 0, 0);
  EXPECT_TRUE(about.Label3->text().startsWith(QStringLiteral("Version ") + projectVersion)) << about.Label3->text().toStdString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Version \\d+\\.\\d+\\.\\d+\\.\\d+$")).match(about.Label3->text()).hasMatch())
      << about.Label3->text().toStdString();
  about.close();
}

struct TClickPlace {
  const char* Name;
  QPoint (*Where)(const TfrmInfo&);
};

class AboutBoxClick : public AboutBox, public testing::WithParamInterface<TClickPlace> {};

TEST_P(AboutBoxClick, ClosesIt) {
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  QTest::mouseClick(about.windowHandle(), Qt::LeftButton, {}, GetParam().Where(about));
  EXPECT_FALSE(about.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Places, AboutBoxClick,
    testing::Values(TClickPlace{"OnThePicture", [](const TfrmInfo& about) { return QPoint(20, about.height() - 20); }},
                    TClickPlace{"OnTheVersionOverThePicture",
                                [](const TfrmInfo& about) { return about.Label3->geometry().center(); }}),
    [](const testing::TestParamInfo<TClickPlace>& info) { return info.param.Name; });

TEST_F(AboutBox, TheLinkOpensTheWebSiteWithTheDesktopsHandler) {
  TUrlCatcher browser;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "Open");
  about.Label4Click();
  emit about.Label4->linkActivated(about.Label4->text());
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(browser.Opened, QList<QUrl>({VelmorWebSite(), VelmorWebSite()}));
  EXPECT_TRUE(about.Label4->text().contains(QStringLiteral("Velmor softwares website")));
}

}  // namespace
}  // namespace velmor::shell::test

#include "InfoTest.moc"
