// Program entry of the desktop shell: one instance per user, the four
// windows created in their order, then the event loop until the main window
// closes.
#include <QApplication>
#include <QIcon>
#include <QScreen>

#include "app/Info.h"
#include "app/Infos.h"
#include "app/Main.h"
#include "app/Options.h"
#include "app/SingleInstance.h"

int main(int argc, char* argv[]) {
  const TSingleInstance instance;
  if (!instance.Acquired()) return 0;

  QApplication application(argc, argv);
  QApplication::setApplicationName("velmor");
  QApplication::setWindowIcon(QIcon(":/icons/velmor.svg"));

  TfrmMain frmMain;
  TfrmOptions frmOptions(&frmMain);
  TFrmInfos FrmInfos(&frmMain);
  TfrmInfo frmInfo(&frmMain);
  frmMain.UseWindows({&frmOptions, &FrmInfos, &frmInfo});
  frmMain.move(frmMain.screen()->availableGeometry().center() - frmMain.rect().center());
  frmMain.show();
  return QApplication::exec();
}
