// The compilation panel: the list of dropped paths with its size estimate,
// and the insertion of that list into the component at the start of a burn.
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <iterator>

#include "app/Main.h"
#include "app/NumberTexts.h"

namespace {

// Longest long name kept whole while Joliet names are on.
inline constexpr qsizetype kLongestName = 60;
// The size an item added to the estimate, kept with it for its removal.
inline constexpr int kCountedSizeRole = Qt::UserRole;

[[nodiscard]] QString FieldText(const char16_t* Field, std::size_t Capacity) {
  std::size_t length = 0;
  while (length < Capacity && Field[length] != u'\0') ++length;
  return QString::fromUtf16(Field, static_cast<qsizetype>(length));
}

void StoreField(char16_t* Field, std::size_t Capacity, const QString& Text) {
  const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(Text.size()), Capacity - 1);
  std::copy_n(reinterpret_cast<const char16_t*>(Text.utf16()), length, Field);
  Field[length] = u'\0';
}

// The first Count characters of Name, never ending inside a surrogate pair.
[[nodiscard]] QString Head(const QString& Name, qsizetype Count) {
  if (Count > 0 && Name.at(Count - 1).isHighSurrogate()) --Count;
  return Name.left(Count);
}

// The extension of a source path's last component, dot included; empty when
// it has none.
[[nodiscard]] QString ExtensionOf(const QString& Path) {
  const QString last = Path.section(QRegularExpression("[\\\\/]"), -1);
  const qsizetype dot = last.lastIndexOf('.');
  return dot < 0 ? QString() : last.mid(dot);
}

[[nodiscard]] QString WithoutTrailingSeparator(QString Path) {
  while (Path.size() > 1 && (Path.endsWith('/') || Path.endsWith('\\'))) Path.chop(1);
  return Path;
}

[[nodiscard]] QString Identity(const QString& Path) { return QFileInfo(Path).absoluteFilePath(); }

}  // namespace

QString TfrmMain::EstimateText() const {
  return "Total Estimated Size: " + Megabytes(static_cast<double>(TotalEstimatedSize)) + " MB";
}

void TfrmMain::AddItem(const QString& Path, bool IsFolder) {
  // A path that is gone counts nothing, so removing it later takes nothing.
  const std::int64_t size = std::max<std::int64_t>(IsFolder ? FolderSize(Path) : FileSizeOf(Path), 0);
  TotalEstimatedSize += size;
  lblSize->setText(EstimateText());
  auto* item = new QListWidgetItem(WithoutTrailingSeparator(Path), files);
  item->setData(kCountedSizeRole, QVariant::fromValue<qint64>(size));
}

std::int64_t TfrmMain::FolderSize(const QString& Path) {
  const QFileInfo entry(Path);
  if (!entry.exists()) return 0;
  if (!entry.isDir()) return entry.size();
  std::int64_t total = 0;
  QDirIterator walk(Path, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
  while (walk.hasNext()) {
    walk.next();
    total += walk.fileInfo().size();
  }
  return total;
}

std::int64_t TfrmMain::FileSizeOf(const QString& Path) {
  const QFileInfo entry(Path);
  return entry.exists() ? entry.size() : -1;
}

void TfrmMain::filesDblClick() {
  QListWidgetItem* item = files->currentItem();
  if (item == nullptr) return;
  TotalEstimatedSize -= item->data(kCountedSizeRole).toLongLong();
  lblSize->setText(EstimateText());
  delete item;
}

void TfrmMain::btnClearLayoutClick() {
  files->clear();
  TotalEstimatedSize = 0;
  lblSize->setText(" ");
}

bool TfrmMain::AddListToCompilation() {
  discNames_.clear();
  nameCollision_ = false;
  bool inserted = true;
  for (int row = 0; row < files->count(); ++row) {
    const QString source = files->item(row)->text();
    const QFileInfo entry(source);
    if (entry.isDir()) {
      insertSource_.clear();
      insertDest_ = "\\";
      const kilnor::pDirEntry folder = kilnor.CreateDirW(u"\\", entry.fileName().toStdU16String());
      const QString name = folder ? QString::fromStdU16String(folder->LongName) : entry.fileName();
      ClaimDiscName("\\", name, source);
      insertSource_ = source;
      insertDest_ = "\\" + name;
      if (folder == nullptr || kilnor.InsertDirW(insertDest_.toStdU16String(), source.toStdU16String(), u"*.*",
                                                 true, false) == nullptr) {
        LogLine("Failed or Skipped at " + source + ": " + QString::fromStdString(kilnor.LastTreeError()));
        inserted = false;
      }
    } else if (entry.isFile()) {
      insertSource_.clear();
      insertDest_ = "\\";
      if (kilnor.InsertFileW(u"\\", source.toStdU16String()) == nullptr) {
        LogLine("Failed or Skipped at " + source + ": " + QString::fromStdString(kilnor.LastTreeError()));
        inserted = false;
      }
    }
  }
  insertSource_.clear();
  ReportLeftOutItems();
  return inserted && !nameCollision_;
}

void TfrmMain::ReportLeftOutItems() {
  for (const kilnor::TLeftOutItem& item : kilnor.LeftOutItems())
    LogLine("Left out: " + QString::fromStdU16String(item.Path) + " (" + QString::fromStdString(item.Reason) + ")");
}

bool TfrmMain::ClaimDiscName(const QString& Folder, const QString& Name, const QString& Source) {
  const QString onDisc = (Folder.endsWith('\\') ? Folder : Folder + "\\") + Name;
  const auto [claim, fresh] = discNames_.try_emplace(onDisc.toCaseFolded(), Identity(Source));
  if (fresh || claim->second == Identity(Source)) return true;
  LogLine(">>> " + Source + " and " + claim->second + " would both be " + onDisc +
          " on the disc; rename one or remove it from the list. Nothing was started.");
  nameCollision_ = true;
  return false;
}

void TfrmMain::kilnorAddFile(void*, const char16_t* Path, kilnor::TWin32FindDataW& fd, bool&) {
  const QString source = Path ? QString::fromUtf16(Path) : QString();
  QString name = FieldText(fd.cFileName, std::size(fd.cFileName));
  if (name.size() > kLongestName && JolietNames) {
    const bool folder = (fd.dwFileAttributes & kilnor::kAttributeDirectory) != 0;
    name = Head(name, kLongestName) + (folder ? QString() : ExtensionOf(source));
    StoreField(fd.cFileName, std::size(fd.cFileName), name);
  }
  if (source.isEmpty()) return;
  QString folder = insertDest_;
  if (!insertSource_.isEmpty()) {
    const QString relative = QDir(insertSource_).relativeFilePath(QFileInfo(source).path());
    if (relative != ".") folder += "\\" + QString(relative).replace('/', '\\');
  }
  ClaimDiscName(folder, name, source);
}
