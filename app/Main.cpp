// The main window's frame: its controls, start-up, the busy and idle states,
// the status line and the log. The workflows live beside it: compilation
// panel (MainCompilation.cpp), burns (MainBurn.cpp), drive controls
// (MainDrive.cpp).
#include "app/Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QSplitter>
#include <QIcon>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "app/DriveItems.h"
#include "app/NumberTexts.h"

namespace {

inline constexpr int kWriteTimerMs = 50;
inline constexpr int kEraseTimerMs = 200;
inline constexpr int kEjectTimerMs = 1000;

[[nodiscard]] QToolButton* PictureButton(QWidget* Parent, const QString& Glyph, const QString& Hint) {
  auto* button = new QToolButton(Parent);
  button->setIcon(QIcon(":/icons/" + Glyph + ".svg"));
  button->setToolTip(Hint);
  button->setAutoRaise(true);
  return button;
}

[[nodiscard]] QPushButton* ActionButton(QWidget* Parent, const QString& Caption, const QString& Hint) {
  auto* button = new QPushButton(Caption, Parent);
  button->setToolTip(Hint);
  button->setMinimumWidth(75);
  return button;
}

[[nodiscard]] QProgressBar* StatusBar(QWidget* Parent, int Width) {
  auto* bar = new QProgressBar(Parent);
  bar->setTextVisible(false);
  bar->setFixedWidth(Width);
  bar->setValue(0);
  return bar;
}

[[nodiscard]] QTimer* PollTimer(QObject* Parent, int Milliseconds) {
  auto* timer = new QTimer(Parent);
  timer->setInterval(Milliseconds);
  return timer;
}

// The file the user chose in Dialog; empty when it was cancelled.
[[nodiscard]] QString ChosenFile(QFileDialog& Dialog) {
  return Dialog.exec() == QDialog::Accepted ? Dialog.selectedFiles().value(0) : QString();
}

// A progress bar holds int values; sector and byte counts stay below 2^31
// for every medium, but clamp rather than wrap should one not.
[[nodiscard]] int BarValue(double Value) {
  return static_cast<int>(std::min<double>(Value, std::numeric_limits<int>::max()));
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent), kilnor(this) {
  setWindowTitle("Velmor CD/DVD Burner ");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 2);
  BuildToolBar(column);
  auto* rows = new QSplitter(Qt::Vertical, this);
  BuildWorkArea(rows);
  BuildLogRow(rows);
  rows->setStretchFactor(0, 1);
  column->addWidget(rows, 1);
  BuildStatusLine(column);

  tmrWrite = PollTimer(this, kWriteTimerMs);
  tmrErase = PollTimer(this, kEraseTimerMs);
  Timer1 = PollTimer(this, kEjectTimerMs);
  od = new QFileDialog(this, "Burn ISO image", QString(),
                       "ISO9660 Image Files (*.iso *.ISO);;All Files (*)");
  od->setFileMode(QFileDialog::ExistingFile);
  SaveDialog1 = new QFileDialog(this, "Save as ISO image", QString(), "Iso  Files ( *.iso )");
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setDefaultSuffix("iso");
  ChooseImageFileName = [this] { return ChosenFile(*SaveDialog1); };
  ChooseImageToBurn = [this] { return ChosenFile(*od); };
  ConfirmAbortOnClose = [this] {
    return QMessageBox::question(this, windowTitle().trimmed(),
                                 "An operation is still running. Abort it and close the program?") ==
           QMessageBox::Yes;
  };
  ShowMessage = [this](const QString& Text) { QMessageBox::information(this, windowTitle().trimmed(), Text); };

  resize(907, 553);
  ConnectHandlers();
  SetComponentHandlers();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  if (kilnor::TNotificationQueue* queue = kilnor.Notifications()) queue->SetWakeCallback({});
  kilnor.AbortOperation();
  kilnor.Workers.StopAndJoinAll();
}

void TfrmMain::BuildToolBar(QVBoxLayout* Column) {
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Drive : ", this));
  cbDrives = new QComboBox(this);
  cbDrives->setMinimumWidth(298);
  cbSpeed = new TSpeedComboBox(this);
  cbSpeed->setMinimumWidth(135);
  row->addWidget(cbDrives);
  row->addWidget(cbSpeed);
  btnLoad = PictureButton(this, "load", "Load Tray");
  btnEject = PictureButton(this, "eject", "Eject Media");
  btnQuickErase = PictureButton(this, "erase", "Erase Disc");
  btnQuickInfo = PictureButton(this, "mediainfo", "Media Infos");
  btnOtherOptions = PictureButton(this, "options", "Options");
  sBitBtn1 = PictureButton(this, "about", "About this program");
  for (QToolButton* button : {btnLoad, btnEject, btnQuickErase, btnQuickInfo, btnOtherOptions, sBitBtn1})
    row->addWidget(button);
  row->addStretch(1);

  btnAbortBurn = ActionButton(this, "Abort", QString());
  btnAbortBurn->setStyleSheet("QPushButton { color: red; font-weight: bold; }");
  btnAbortBurn->hide();
  btnBurnISO = ActionButton(this, "Burn ISO", "Allows you to burn ISO files to disc");
  btnBurnISO->setStyleSheet("QPushButton { color: maroon; }");
  btnBurn = ActionButton(this, "Burn", "Burn Disc");
  btnBurn->setStyleSheet("QPushButton { font-weight: bold; }");
  row->addWidget(btnAbortBurn);
  row->addWidget(btnBurnISO);
  row->addWidget(btnBurn);
  Column->addLayout(row);

  // The smart-reference pass and the source-path option are kept from the
  // user; they are here for whatever drives the window to them.
  chkSavePath = new QCheckBox("Save Path", this);
  bGSR = new QCheckBox("Generate Smart References", this);
  bGSR->setStyleSheet("QCheckBox { font-weight: bold; }");
  for (QCheckBox* box : {chkSavePath, bGSR}) {
    box->setEnabled(false);
    box->hide();
  }
}

void TfrmMain::BuildWorkArea(QSplitter* Rows) {
  auto* panes = new QSplitter(Qt::Horizontal, Rows);
  auto* left = new QWidget(panes);
  auto* leftColumn = new QVBoxLayout(left);
  leftColumn->setContentsMargins(0, 0, 0, 0);
  auto* header = new QHBoxLayout;
  header->addWidget(new QLabel("Drag and drop files here:", left), 1);
  btnClearLayout = ActionButton(left, "Clear All", "Clear Compilation");
  header->addWidget(btnClearLayout);
  leftColumn->addLayout(header);
  files = new TCompilationList(left);
  leftColumn->addWidget(files, 1);

  browser = new TFileBrowser(panes);
  sComboBox1 = browser->ViewStyle;
  panes->setStretchFactor(1, 1);
  panes->setSizes({337, 570});
}

void TfrmMain::BuildLogRow(QSplitter* Rows) {
  auto* logRow = new QWidget(Rows);
  auto* row = new QHBoxLayout(logRow);
  row->setContentsMargins(0, 0, 0, 0);
  Memo1 = new QPlainTextEdit(logRow);
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setMinimumHeight(61);
  auto* clearLog = new QAction("Clear All", Memo1);
  clearLog->setShortcut(Qt::Key_F8);
  clearLog->setShortcutContext(Qt::WindowShortcut);
  connect(clearLog, &QAction::triggered, this, &TfrmMain::ClearAll1Click);
  Memo1->setContextMenuPolicy(Qt::ActionsContextMenu);
  Memo1->addAction(clearLog);
  row->addWidget(Memo1, 1);

  auto* meter = new QVBoxLayout;
  lMaxSpeed = new QLabel("5125 KB/s", logRow);
  QFont small = lMaxSpeed->font();
  small.setPointSizeF(small.pointSizeF() * 7 / 9);
  lMaxSpeed->setFont(small);
  lMaxSpeed->setAlignment(Qt::AlignCenter);
  pbWriteSpeed = new QProgressBar(logRow);
  pbWriteSpeed->setOrientation(Qt::Vertical);
  pbWriteSpeed->setTextVisible(false);
  pbWriteSpeed->setValue(0);
  meter->addWidget(lMaxSpeed);
  meter->addWidget(pbWriteSpeed, 1, Qt::AlignHCenter);
  row->addLayout(meter);
  Rows->setSizes({430, 61});
}

void TfrmMain::BuildStatusLine(QVBoxLayout* Column) {
  auto* row = new QHBoxLayout;
  lblStatus = new QLabel("IDLE : ", this);
  pb = StatusBar(this, 140);
  lblSize = new QLabel(this);
  lblSize->setAlignment(Qt::AlignCenter);
  scs = StatusBar(this, 96);
  dbs = StatusBar(this, 60);
  row->addWidget(lblStatus);
  row->addWidget(pb);
  row->addWidget(lblSize, 1);
  row->addWidget(scs);
  row->addWidget(dbs);
  Column->addLayout(row);
}

void TfrmMain::ConnectHandlers() {
  connect(cbDrives, &QComboBox::activated, this, &TfrmMain::cbDrivesChange);
  connect(cbSpeed, &TSpeedComboBox::AboutToOpen, this, &TfrmMain::cbSpeedDropDown);
  connect(btnLoad, &QToolButton::clicked, this, &TfrmMain::btnLoadClick);
  connect(btnEject, &QToolButton::clicked, this, &TfrmMain::btnEjectClick);
  connect(btnQuickErase, &QToolButton::clicked, this, &TfrmMain::btnQuickEraseClick);
  connect(btnQuickInfo, &QToolButton::clicked, this, &TfrmMain::btnQuickInfoClick);
  connect(btnOtherOptions, &QToolButton::clicked, this, &TfrmMain::btnOtherOptionsClick);
  connect(sBitBtn1, &QToolButton::clicked, this, &TfrmMain::sBitBtn1Click);
  connect(btnAbortBurn, &QPushButton::clicked, this, &TfrmMain::btnAbortBurnClick);
  connect(btnBurnISO, &QPushButton::clicked, this, &TfrmMain::btnBurnISOClick);
  connect(btnBurn, &QPushButton::clicked, this, &TfrmMain::btnBurnClick);
  connect(btnClearLayout, &QPushButton::clicked, this, &TfrmMain::btnClearLayoutClick);
  connect(files, &TCompilationList::ItemDropped, this, &TfrmMain::AddItem);
  connect(files, &QListWidget::itemDoubleClicked, this, &TfrmMain::filesDblClick);
  connect(sComboBox1, &QComboBox::currentIndexChanged, this, &TfrmMain::sComboBox1Change);
  connect(tmrWrite, &QTimer::timeout, this, &TfrmMain::tmrWriteTimer);
  connect(tmrErase, &QTimer::timeout, this, &TfrmMain::tmrEraseTimer);
  connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
}

void TfrmMain::SetComponentHandlers() {
  using namespace std::placeholders;
  kilnor.SetReplaceFile(true);
  kilnor.SetVolumeID("My Volume");
  kilnor.SetCacheSize(64);
  kilnor.SetUDFBridge(false);
  kilnor.SetOnAddFile(std::bind(&TfrmMain::kilnorAddFile, this, _1, _2, _3, _4));
  kilnor.SetOnWriteDone(std::bind(&TfrmMain::kilnorWriteDone, this, _1, _2, _3));
  kilnor.SetOnVerifyDone(std::bind(&TfrmMain::kilnorVerifyDone, this, _1, _2, _3, _4));
  kilnor.SetOnGenerateSmartReferencesDone(
      std::bind(&TfrmMain::kilnorGenerateSmartReferencesDone, this, _1, _2, _3));
  kilnor.SetOnEraseDone(std::bind(&TfrmMain::kilnorEraseDone, this, _1, _2, _3));
  // Workers post their completions to the component's queue; the wake call
  // runs on the worker and only queues the drain onto this window's thread.
  kilnor.Notifications()->SetWakeCallback([this] {
    QMetaObject::invokeMethod(this, [this] { kilnor.DrainNotifications(); }, Qt::QueuedConnection);
  });
}

void TfrmMain::FormCreate() {
  TotalEstimatedSize = 0;
  cbSpeed->addItem("Max");
  cbSpeed->setCurrentIndex(0);
  ListDrives();
  cbDrives->setCurrentIndex(0);
  kilnor.UnlockDrive();
  kilnor.SetVolumeID("My Volume");
  kilnor.SelectDevice(0);
  ApplyDriveRule();
}

void TfrmMain::ListDrives() {
  kilnor.InitializeASPI(false, "", "");
  // With no drive of its own the machine still has the emulated recorder.
  if (kilnor.DeviceCount() == 0) kilnor.InitializeASPI(true, kilnor::TKilnorPro::EmulatedRecorderLibrary(), "");
  for (std::uint16_t index = 0; index < kilnor.DeviceCount(); ++index)
    cbDrives->addItem(DriveItemText(kilnor.GetDeviceName(static_cast<std::uint8_t>(index))));
  cbDrives->addItem(kImageFileItem);
}

bool TfrmMain::ImageItemSelected() const { return cbDrives->currentIndex() == cbDrives->count() - 1; }

void TfrmMain::ApplyDriveRule() {
  btnBurnISO->setEnabled(!ImageItemSelected());
  btnBurn->setEnabled(ImageItemSelected() || kilnor.DeviceIsBurner());
}

void TfrmMain::UpdateControls(bool Enabled) {
  for (QWidget* control : std::initializer_list<QWidget*>{cbDrives, cbSpeed, btnLoad, btnEject, btnQuickErase,
                                                          sBitBtn1, btnQuickInfo, btnOtherOptions, btnBurnISO,
                                                          btnBurn, files})
    control->setEnabled(Enabled);
  if (Enabled) ApplyDriveRule();
}

void TfrmMain::BeginOperation(QTimer* Poll, bool Abortable) {
  // A new operation takes the drive: an eject still waiting would open the
  // tray under it.
  Timer1->stop();
  ejectPending_ = false;
  operationRunning_ = true;
  UpdateControls(false);
  btnAbortBurn->setVisible(Abortable);
  Poll->start();
}

void TfrmMain::EndOperation() {
  operationRunning_ = false;
  btnAbortBurn->hide();
  tmrWrite->stop();
  tmrErase->stop();
  UpdateControls(true);
}

void TfrmMain::ShowProgress(std::uint16_t Status) {
  const std::uint16_t current = kilnor.ComponentStatus();
  enum class TSource { SmartReferences, Verify, Write, None } source = TSource::None;
  double total = 0;
  double done = 0;
  if (Status == kilnor::stSmartReferences) {
    source = TSource::SmartReferences;
    total = kilnor.SmartReferencesSize();
    done = kilnor.SmartReferencesProgress();
  } else if (current == kilnor::stVerifying) {
    source = TSource::Verify;
    total = kilnor.VerifySize();
    done = kilnor.VerifyProgress();
  } else if (current == kilnor::stWriting || current == kilnor::stClosingTrack) {
    source = TSource::Write;
    total = kilnor.ImageSize();
    done = kilnor.BlocksWritten();
  }
  if (source != TSource::None) {
    const auto speed = [&] { return source == TSource::Verify ? kilnor.BMReadSpeed() : kilnor.BMWriteSpeed(); };
    pb->setMaximum(BarValue(total));
    pb->setValue(BarValue(done));
    QString text = Megabytes(done * 2048) + "/" + Megabytes(total * 2048) + " MB";
    if (done > 0) {
      text += " (" + PlainNumber(total > 0 ? done / total * 100 : 0, 2) + "%)";
      if (source != TSource::SmartReferences) text += " @ " + PlainNumber(speed(), 2) + " KB/s";
    }
    if (source != TSource::SmartReferences) pbWriteSpeed->setValue(std::min<int>(speed(), pbWriteSpeed->maximum()));
    lblSize->setText(text);
    if (source == TSource::Write) {
      scs->setMaximum(BarValue(kilnor.CacheSize() * 1048576.0));
      scs->setValue(BarValue(kilnor.CachePosition()));
      dbs->setMaximum(BarValue(kilnor.DeviceBufferSize()));
      dbs->setValue(BarValue(kilnor.DeviceBufferPosition()));
    }
  }
  lblStatus->setText(QString::fromStdString(kilnor::StatusText(current)));
}

void TfrmMain::tmrWriteTimer() { ShowProgress(kilnor.ComponentStatus()); }

void TfrmMain::Delay(std::int32_t Milliseconds) {
  if (Milliseconds <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

void TfrmMain::LogLine(const QString& Text) { Memo1->appendPlainText(Text); }

QString TfrmMain::LogTime() {
  const QTime now = QDateTime::currentDateTimeUtc().time();
  return QString::asprintf("%02d:%02d:%03d", now.minute(), now.second(), now.msec());
}

void TfrmMain::ClearAll1Click() { Memo1->clear(); }

void TfrmMain::sComboBox1Change() { browser->SetViewStyle(sComboBox1->currentIndex()); }

void TfrmMain::closeEvent(QCloseEvent* event) {
  ejectPending_ = false;
  if (!operationRunning_) {
    event->accept();
    return;
  }
  if (!ConfirmAbortOnClose()) {
    event->ignore();
    return;
  }
  // The worker removes what it wrote to its temporary file when it sees the
  // abort; wait for it so nothing half-written outlives the window.
  closing_ = true;
  kilnor.AbortOperation();
  kilnor.Workers.StopAndJoinAll();
  kilnor.DrainNotifications();
  closing_ = false;
  Timer1->stop();
  event->accept();
}
