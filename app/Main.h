#pragma once
// The main window: drive and speed choice, the compilation list fed by drag
// and drop, a built-in file browser, the log and the status line. It owns the
// one component `kilnor` and sequences every workflow through it; the
// component's completions reach this window on the GUI thread through the
// component's notification queue.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>

#include "app/CompilationList.h"
#include "app/FileBrowser.h"
#include "app/SpeedComboBox.h"
#include "engine/KilnorPro.h"

class TfrmOptions;
class TFrmInfos;
class TfrmInfo;

// The secondary windows the main window opens; created after it at start.
struct TShellWindows {
  TfrmOptions* frmOptions = nullptr;
  TFrmInfos* FrmInfos = nullptr;
  TfrmInfo* frmInfo = nullptr;
};

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  void UseWindows(const TShellWindows& Windows) { windows_ = Windows; }

  kilnor::TKilnorPro kilnor;

  // --- Tool bar
  QComboBox* cbDrives = nullptr;
  TSpeedComboBox* cbSpeed = nullptr;
  QToolButton* btnLoad = nullptr;
  QToolButton* btnEject = nullptr;
  QToolButton* btnQuickErase = nullptr;
  QToolButton* btnQuickInfo = nullptr;
  QToolButton* btnOtherOptions = nullptr;
  QToolButton* sBitBtn1 = nullptr;
  QPushButton* btnAbortBurn = nullptr;
  QPushButton* btnBurnISO = nullptr;
  QPushButton* btnBurn = nullptr;
  QCheckBox* chkSavePath = nullptr;
  QCheckBox* bGSR = nullptr;

  // --- Work area
  QPushButton* btnClearLayout = nullptr;
  TCompilationList* files = nullptr;
  TFileBrowser* browser = nullptr;
  QComboBox* sComboBox1 = nullptr;

  // --- Log and status line
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* lMaxSpeed = nullptr;
  QProgressBar* pbWriteSpeed = nullptr;
  QLabel* lblStatus = nullptr;
  QProgressBar* pb = nullptr;
  QLabel* lblSize = nullptr;
  QProgressBar* scs = nullptr;
  QProgressBar* dbs = nullptr;

  // --- Timers and dialogs
  QTimer* tmrWrite = nullptr;
  QTimer* tmrErase = nullptr;
  QTimer* Timer1 = nullptr;
  QFileDialog* od = nullptr;
  QFileDialog* SaveDialog1 = nullptr;

  // Where the window asks the user; tests answer in their place. An empty
  // file name means the dialog was cancelled.
  std::function<QString()> ChooseImageFileName;
  std::function<QString()> ChooseImageToBurn;
  std::function<bool()> ConfirmAbortOnClose;
  std::function<void(const QString&)> ShowMessage;

  // --- Window-level state
  std::int64_t TotalEstimatedSize = 0;
  bool JolietNames = false;
  std::int32_t EraseStep = 2;

  // --- Shared pieces
  void UpdateControls(bool Enabled);
  void ShowProgress(std::uint16_t Status);
  void Delay(std::int32_t Milliseconds);
  void LogLine(const QString& Text);
  [[nodiscard]] static QString LogTime();
  // True from the start of a drive or image operation until its completion.
  [[nodiscard]] bool OperationRunning() const { return operationRunning_; }
  // The line for the compilation's estimated size.
  [[nodiscard]] QString EstimateText() const;

  // --- Compilation panel
  void AddItem(const QString& Path, bool IsFolder);
  [[nodiscard]] bool AddListToCompilation();
  [[nodiscard]] static std::int64_t FolderSize(const QString& Path);
  [[nodiscard]] static std::int64_t FileSizeOf(const QString& Path);
  void filesDblClick();
  void btnClearLayoutClick();
  void kilnorAddFile(void* Sender, const char16_t* Path, kilnor::TWin32FindDataW& fd, bool& Skip);

  // --- Burn workflows
  void btnBurnClick();
  void Burn();
  void ApplyOptions();
  void btnBurnISOClick();
  void btnAbortBurnClick();
  void kilnorWriteDone(void* Sender, std::uint8_t DeviceId, bool WriteFailed);
  void Timer1Timer();
  void kilnorGenerateSmartReferencesDone(void* Sender, bool Failed, std::int32_t CanSaveBytes);
  void kilnorVerifyDone(void* Sender, std::uint8_t DeviceId, std::int32_t FileId, bool Failed);

  // --- Drive, speed, erase, media information, options, about
  void cbDrivesChange();
  void cbSpeedDropDown();
  void ApplySpeed();
  void btnLoadClick();
  void btnEjectClick();
  void btnQuickEraseClick();
  void btnFullEraseClick();
  void tmrEraseTimer();
  void kilnorEraseDone(void* Sender, std::uint8_t DeviceId, bool EraseFailed);
  void btnQuickInfoClick();
  void btnOtherOptionsClick();
  void sBitBtn1Click();

  // --- Log and browser
  void tmrWriteTimer();
  void ClearAll1Click();
  void sComboBox1Change();

  // True when the drive list's last item, the image file, is selected.
  [[nodiscard]] bool ImageItemSelected() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void BuildToolBar(class QVBoxLayout* Column);
  void BuildWorkArea(class QSplitter* Rows);
  void BuildLogRow(class QSplitter* Rows);
  void BuildStatusLine(class QVBoxLayout* Column);
  void ConnectHandlers();
  void ListDrives();
  void SetComponentHandlers();

  // Busy from the start of an operation; idle again at its completion.
  void BeginOperation(QTimer* Poll, bool Abortable);
  void EndOperation();
  // Enables "Burn" and "Burn ISO" for the chosen drive-list item.
  void ApplyDriveRule();
  void Erase(bool Quick);
  // The boot image of the options dialog, when checked; false (logged) when
  // the component refuses it.
  [[nodiscard]] bool ApplyBootImage();
  void StartWrite(bool Started, const QString& StartedLine, const QString& RefusedLine);
  void BuildImageFile();
  void BurnToDisc();
  void ReportLeftOutItems();
  // Records the name an item takes on the disc; false (logged) when another
  // source already took it in that folder.
  bool ClaimDiscName(const QString& Folder, const QString& Name, const QString& Source);

  TShellWindows windows_;
  bool operationRunning_ = false;
  bool ejectPending_ = false;
  // Set while the window closes: a completion drained then starts nothing.
  bool closing_ = false;
  // The dropped folder being inserted and its folder on the disc, so that
  // kilnorAddFile knows where each name lands.
  QString insertSource_;
  QString insertDest_;
  std::map<QString, QString> discNames_;
  bool nameCollision_ = false;
};
