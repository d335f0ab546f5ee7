// The compilation list: drops, the size estimate, removal, and what the list
// becomes in the component when a burn starts.
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include "ShellFixture.h"

namespace velmor::shell::test {
namespace {

// Drops Paths as a file manager does (text/uri-list) on Target.
void DropUrls(QWidget* Target, const QStringList& Paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : Paths) urls << QUrl::fromLocalFile(path);
  data.setUrls(urls);
  const QPointF centre = QRectF(Target->rect()).center();
  QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Target, &enter);
  if (!enter.isAccepted()) return;
  QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Target, &drop);
}

class CompilationTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteFile(Scratch("Photos/a.jpg"), 1048576);
    WriteFile(Scratch("Photos/trip/b.jpg"), 524288);
    WriteFile(Scratch("Music/c.ogg"), 262144);
    WriteFile(Scratch("notes.txt"), 262144);
  }
  QStringList Items() const {
    QStringList items;
    for (int row = 0; row < frmMain->files->count(); ++row) items << frmMain->files->item(row)->text();
    return items;
  }
  void DoubleClickRow(int Row) {
    frmMain->files->setCurrentRow(Row);
    emit frmMain->files->itemDoubleClicked(frmMain->files->currentItem());
  }
};

TEST_F(CompilationTest, DroppedFoldersAndFileAddUpInTheEstimate) {
  frmMain->show();
  DropUrls(frmMain->files->viewport(), {Scratch("Photos/"), Scratch("Music"), Scratch("notes.txt")});
  EXPECT_EQ(Items(), QStringList({Scratch("Photos"), Scratch("Music"), Scratch("notes.txt")}));
  EXPECT_EQ(frmMain->TotalEstimatedSize, 1048576 + 524288 + 262144 + 262144);
  EXPECT_EQ(frmMain->lblSize->text(), "Total Estimated Size: 2.00 MB");
}

TEST_F(CompilationTest, DropsElsewhereAddNothing) {
  frmMain->show();
  DropUrls(frmMain->Memo1->viewport(), {Scratch("notes.txt")});
  DropUrls(frmMain->browser->FileList->viewport(), {Scratch("notes.txt")});
  EXPECT_EQ(frmMain->files->count(), 0);
  EXPECT_EQ(frmMain->TotalEstimatedSize, 0);
}

TEST_F(CompilationTest, SamePathTwiceIsListedTwiceAndRecordedOnce) {
  frmMain->AddItem(Scratch("notes.txt"), false);
  frmMain->AddItem(Scratch("notes.txt"), false);
  EXPECT_EQ(frmMain->files->count(), 2);
  EXPECT_EQ(frmMain->TotalEstimatedSize, 2 * 262144);
  frmMain->kilnor.ClearAll();
  EXPECT_TRUE(frmMain->AddListToCompilation());
  EXPECT_GE(frmMain->kilnor.FindFile("\\", "notes.txt"), 0);
}

TEST_F(CompilationTest, RemovalTakesBackWhatTheItemAdded) {
  frmMain->AddItem(Scratch("Photos"), true);
  frmMain->AddItem(Scratch("notes.txt"), false);
  frmMain->AddItem(Scratch("gone.txt"), false);  // missing when dropped: counts nothing
  EXPECT_EQ(frmMain->TotalEstimatedSize, 1048576 + 524288 + 262144);

  // A file deleted after it was dropped still takes back what it added, so
  // the estimate keeps matching what is listed.
  ASSERT_TRUE(QFile::remove(Scratch("notes.txt")));
  DoubleClickRow(1);
  EXPECT_EQ(frmMain->TotalEstimatedSize, 1048576 + 524288);
  DoubleClickRow(1);
  EXPECT_EQ(frmMain->TotalEstimatedSize, 1048576 + 524288);
  DoubleClickRow(0);
  EXPECT_EQ(frmMain->TotalEstimatedSize, 0);
  EXPECT_EQ(frmMain->lblSize->text(), "Total Estimated Size: 0.00 MB");
  EXPECT_EQ(frmMain->files->count(), 0);
}

TEST_F(CompilationTest, ClearAllEmptiesTheListAndTheEstimate) {
  frmMain->AddItem(Scratch("Photos"), true);
  frmMain->btnClearLayout->click();
  EXPECT_EQ(frmMain->files->count(), 0);
  EXPECT_EQ(frmMain->TotalEstimatedSize, 0);
  EXPECT_EQ(frmMain->lblSize->text(), " ");
}

TEST_F(CompilationTest, FoldersBecomeRootFoldersAndFilesRootFiles) {
  frmMain->AddItem(Scratch("Photos"), true);
  frmMain->AddItem(Scratch("notes.txt"), false);
  frmMain->AddItem(Scratch("vanished"), true);
  frmMain->kilnor.ClearAll();
  ASSERT_TRUE(frmMain->AddListToCompilation()) << Log().toStdString();
  kilnor::TKilnorPro& kp = frmMain->kilnor;
  EXPECT_GE(kp.FindFile("\\Photos", "a.jpg"), 0);
  EXPECT_GE(kp.FindFile("\\Photos\\trip", "b.jpg"), 0);
  EXPECT_GE(kp.FindFile("\\", "notes.txt"), 0);
  EXPECT_TRUE(Log().isEmpty()) << Log().toStdString();
}

TEST_F(CompilationTest, LongNamesAreShortenedOnlyWithJolietNames) {
  const QString stem(70, QChar('n'));
  WriteFile(Scratch("long/" + stem + ".txt"), 100);
  const struct {
    bool Joliet;
    QString OnDisc;
  } cases[] = {{true, stem.left(60) + ".txt"}, {false, stem + ".txt"}};
  for (const auto& c : cases) {
    frmMain->btnClearLayoutClick();
    frmMain->AddItem(Scratch("long/" + stem + ".txt"), false);
    frmMain->JolietNames = c.Joliet;
    frmMain->kilnor.ClearAll();
    ASSERT_TRUE(frmMain->AddListToCompilation()) << Log().toStdString();
    EXPECT_GE(frmMain->kilnor.FindFile("\\", c.OnDisc.toStdString()), 0) << c.Joliet;
    EXPECT_EQ(c.OnDisc.size(), c.Joliet ? 64 : 74);
  }
}

TEST_F(CompilationTest, NamesThatMeetOnTheDiscStopTheBurn) {
  const QString stem(70, QChar('m'));
  WriteFile(Scratch("one/same.txt"), 10);
  WriteFile(Scratch("two/same.txt"), 20);
  WriteFile(Scratch("cut/" + stem + "1.txt"), 10);
  WriteFile(Scratch("cut/" + stem + "2.txt"), 20);
  const struct {
    const char* Name;
    QStringList Items;
  } cases[] = {
      {"two files of one name at the root", {Scratch("one/same.txt"), Scratch("two/same.txt")}},
      {"two names shortened alike in one folder", {Scratch("cut")}},
  };
  frmMain->JolietNames = true;
  for (const auto& c : cases) {
    frmMain->btnClearLayoutClick();
    frmMain->ClearAll1Click();
    for (const QString& item : c.Items) frmMain->AddItem(item, QFileInfo(item).isDir());
    frmMain->kilnor.ClearAll();
    EXPECT_FALSE(frmMain->AddListToCompilation()) << c.Name;
    EXPECT_TRUE(Log().contains("would both be")) << c.Name << ": " << Log().toStdString();
  }
}

TEST_F(CompilationTest, AnItemThatCannotGoInIsNamedAndNothingStarts) {
  WriteFile(Scratch("elsewhere/Photos"), 10);  // a file with the folder's name
  frmMain->AddItem(Scratch("elsewhere/Photos"), false);
  frmMain->AddItem(Scratch("Photos"), true);
  frmMain->btnBurn->click();
  EXPECT_TRUE(Log().contains("Failed or Skipped at " + Scratch("Photos"))) << Log().toStdString();
  EXPECT_FALSE(Log().contains("WRITING DISC")) << Log().toStdString();
  EXPECT_FALSE(frmMain->OperationRunning());
}

}  // namespace
}  // namespace velmor::shell::test
