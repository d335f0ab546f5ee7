// Draws each window of the shell to a PNG file on a private emulated
// recorder: the main window with a small compilation while it burns to the
// DVD+RW, the options dialog, the media information read from the drive and
// the about box. The files are named after the window and the screen's scale
// (main-window@1x.png, main-window@2x.png, ...).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/Info.h"
#include "app/Infos.h"
#include "app/Main.h"
#include "app/Options.h"

namespace {

// The recorder's state for this run. It is made before the recorder library
// is loaded, so that it is removed only after the library has saved its last
// state when the program ends.
const QTemporaryDir& RecorderState() {
  static const QTemporaryDir state(QDir::tempPath() + "/velmor-screenshots-XXXXXX");
  return state;
}

bool Emulate(const QStringList& Arguments) {
  QProcess emulator;
  emulator.start(QCoreApplication::applicationDirPath() + "/velmor-emulator", Arguments);
  return emulator.waitForFinished(30000) && emulator.exitStatus() == QProcess::NormalExit && emulator.exitCode() == 0;
}

// A fresh drive with a blank DVD+RW whose writes take as long as on a real
// drive, so that a burn is still running when the window is drawn.
bool PrepareRecorder() {
  if (!RecorderState().isValid()) return false;
  qputenv("VELMOR_EMULATOR_DIR", RecorderState().path().toLocal8Bit());
  return Emulate({"reset"}) && Emulate({"set", "realtime", "on"}) && Emulate({"set", "letter", "D"});
}

bool WriteFile(const QString& Path, qint64 Size) {
  QDir().mkpath(QFileInfo(Path).path());
  QFile file(Path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray chunk(64 * 1024, 'v');
  for (qint64 left = Size; left > 0; left -= chunk.size())
    if (file.write(chunk.constData(), std::min<qint64>(left, chunk.size())) < 0) return false;
  return true;
}

// A few folders and files, sized so that the burn lasts some seconds.
bool MakeCompilation(const QString& Root) {
  return WriteFile(Root + "/Photos/2026-06 Coast/beach.jpg", 9 * 1024 * 1024) &&
         WriteFile(Root + "/Photos/2026-06 Coast/harbour.jpg", 7 * 1024 * 1024) &&
         WriteFile(Root + "/Photos/2026-08 Hills/ridge.jpg", 8 * 1024 * 1024) &&
         WriteFile(Root + "/Documents/tax-return-2025.pdf", 2 * 1024 * 1024) &&
         WriteFile(Root + "/Documents/letters/insurance.odt", 300 * 1024) &&
         WriteFile(Root + "/Music/field-recording.flac", 40 * 1024 * 1024) &&
         WriteFile(Root + "/readme.txt", 2 * 1024);
}

// The sample compilation under a fixed name, so that every picture shows the
// same paths; an existing folder of that name is left alone.
struct TSampleFolder {
  TSampleFolder() : created_(QDir().mkdir(Path())), Made(created_ && MakeCompilation(Path())) {}
  ~TSampleFolder() {
    if (created_) QDir(Path()).removeRecursively();
  }
  TSampleFolder(const TSampleFolder&) = delete;
  TSampleFolder& operator=(const TSampleFolder&) = delete;
  static QString Path() { return QDir::tempPath() + "/Velmor sample"; }

 private:
  const bool created_;

 public:
  const bool Made;
};

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer waited;
  waited.start();
  while (!Done()) {
    if (waited.elapsed() > TimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Lets pending layouts and paints happen before a window is drawn.
void Settle() { WaitUntil([] { return false; }, 300); }

class TScreenshots {
 public:
  explicit TScreenshots(QString Folder) : folder_(std::move(Folder)) {}

  bool Save(QWidget& Window, const QString& Name) {
    Window.show();
    Settle();
    const QString path = QDir(folder_).filePath(Name + Scale() + ".png");
    if (Window.grab().save(path, "PNG")) return true;
    std::fprintf(stderr, "velmor-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }

 private:
  static QString Scale() { return QString("@%1x").arg(qRound(qApp->devicePixelRatio())); }
  QString folder_;
};

// The main window while the compilation burns at the drive's slowest speed,
// drawn once the status line shows progress and speed.
bool ShowBurn(TfrmMain& frmMain, const QString& Sources, TScreenshots& Shots) {
  frmMain.AddItem(Sources + "/Photos", true);
  frmMain.AddItem(Sources + "/Documents", true);
  frmMain.AddItem(Sources + "/Music", true);
  frmMain.AddItem(Sources + "/readme.txt", false);
  frmMain.browser->ShowFolder(Sources);
  frmMain.cbSpeedDropDown();
  frmMain.cbSpeed->setCurrentIndex(frmMain.cbSpeed->count() - 1);
  frmMain.show();
  Settle();
  // The tree has its rows only once the window is laid out.
  frmMain.browser->FolderTree->scrollTo(frmMain.browser->FolderTree->currentIndex(), QAbstractItemView::PositionAtCenter);
  frmMain.btnBurn->click();
  const auto aThirdWritten = [&] { return frmMain.pb->maximum() > 0 && frmMain.pb->value() * 3 >= frmMain.pb->maximum(); };
  const bool burning = WaitUntil([&] { return aThirdWritten() && frmMain.pbWriteSpeed->value() > 0; }, 120000);
  if (!burning) std::fprintf(stderr, "velmor-screenshots: the burn showed no progress\n");
  const bool saved = burning && Shots.Save(frmMain, "main-window");
  frmMain.btnAbortBurn->click();
  WaitUntil([&] { return !frmMain.OperationRunning(); }, 60000);
  return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmor-screenshots FOLDER\n");
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName("velmor");
  QApplication::setWindowIcon(QIcon(":/icons/velmor.svg"));
  if (!PrepareRecorder()) {
    std::fprintf(stderr, "velmor-screenshots: cannot prepare the emulated recorder\n");
    return 1;
  }
  // Numbers and dates read the same on every machine.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

  const TSampleFolder sources;
  if (!sources.Made) {
    std::fprintf(stderr, "velmor-screenshots: cannot make the sample compilation in %s (an earlier run may have left it)\n",
                 qPrintable(TSampleFolder::Path()));
    return 1;
  }
  QDir().mkpath(argv[1]);
  TScreenshots shots(argv[1]);

  TfrmMain frmMain;
  TfrmOptions frmOptions(&frmMain);
  TFrmInfos FrmInfos(&frmMain);
  TfrmInfo frmInfo(&frmMain);
  frmMain.UseWindows({&frmOptions, &FrmInfos, &frmInfo});
  frmMain.ConfirmAbortOnClose = [] { return true; };
  frmMain.ShowMessage = [](const QString& Text) { std::fprintf(stderr, "velmor-screenshots: %s\n", qPrintable(Text)); };
  // The disc stays in after the burn is stopped, for the media information.
  frmOptions.sCheckEject->setChecked(false);

  bool saved = ShowBurn(frmMain, TSampleFolder::Path(), shots);
  frmOptions.LoadFromComponent(frmMain.kilnor);
  saved = shots.Save(frmOptions, "options") && saved;
  frmOptions.hide();
  FrmInfos.Fill(frmMain.kilnor);
  saved = shots.Save(FrmInfos, "media-info") && saved;
  FrmInfos.hide();
  saved = shots.Save(frmInfo, "about") && saved;
  frmInfo.hide();
  frmMain.kilnor.Workers.StopAndJoinAll();
  return saved ? 0 : 1;
}
