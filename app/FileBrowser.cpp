#include "app/FileBrowser.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

#include "app/Info.h"

namespace {

void MakeDragSource(QAbstractItemView* View) {
  View->setDragEnabled(true);
  View->setDragDropMode(QAbstractItemView::DragOnly);
  View->setDefaultDropAction(Qt::CopyAction);
}

}  // namespace

TFileBrowser::TFileBrowser(QWidget* parent) : QWidget(parent) {
  BuildViews();
  ShowFolder(QDir::homePath());
}

void TFileBrowser::BuildViews() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);

  auto* top = new QHBoxLayout;
  PathBox = new QComboBox(this);
  PathBox->setEditable(true);
  PathBox->setInsertPolicy(QComboBox::NoInsert);
  PathBox->setMinimumContentsLength(24);
  PathBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  const QUrl site = VelmorWebSite();
  WebLink = new QLabel("<a href=\"" + site.toString() + "\">" + site.host() + "</a>", this);
  WebLink->setOpenExternalLinks(true);
  top->addWidget(PathBox, 1);
  top->addWidget(WebLink);
  column->addLayout(top);

  folders_ = new QFileSystemModel(this);
  folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
  folders_->setRootPath(QDir::rootPath());
  entries_ = new QFileSystemModel(this);
  entries_->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);
  entries_->setRootPath(QDir::rootPath());

  auto* panes = new QSplitter(Qt::Horizontal, this);
  FolderTree = new QTreeView(panes);
  FolderTree->setModel(folders_);
  for (int detail = 1; detail < folders_->columnCount(); ++detail) FolderTree->hideColumn(detail);
  FolderTree->header()->hide();
  MakeDragSource(FolderTree);
  FileList = new QListView(panes);
  FileList->setModel(entries_);
  FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  MakeDragSource(FileList);
  panes->setStretchFactor(0, 0);
  panes->setStretchFactor(1, 1);
  panes->setSizes({235, 335});
  column->addWidget(panes, 1);

  auto* bottom = new QHBoxLayout;
  ViewStyle = new QComboBox(this);
  ViewStyle->addItems({"Icons", "List", "Report", "SmallIcons"});
  bottom->addStretch(1);
  bottom->addWidget(new QLabel("View style", this));
  bottom->addWidget(ViewStyle);
  column->addLayout(bottom);

  connect(FolderTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& Current) { ShowFolder(folders_->filePath(Current)); });
  connect(FileList, &QListView::doubleClicked, this, [this](const QModelIndex& Index) {
    if (entries_->isDir(Index)) ShowFolder(entries_->filePath(Index));
  });
  connect(PathBox->lineEdit(), &QLineEdit::returnPressed, this, &TFileBrowser::PathBoxChosen);
  connect(PathBox, &QComboBox::activated, this, &TFileBrowser::PathBoxChosen);
  SetViewStyle(vsIcons);
}

void TFileBrowser::PathBoxChosen() {
  const QString folder = PathBox->currentText();
  if (QDir(folder).exists()) ShowFolder(folder);
}

void TFileBrowser::ShowFolder(const QString& Folder) {
  if (Folder.isEmpty()) return;
  const QString path = QDir::cleanPath(Folder);
  FileList->setRootIndex(entries_->index(path));
  const QModelIndex inTree = folders_->index(path);
  if (FolderTree->currentIndex() != inTree) {
    FolderTree->setCurrentIndex(inTree);
    FolderTree->scrollTo(inTree);
  }
  if (PathBox->findText(path) < 0) PathBox->insertItem(0, path);
  PathBox->setCurrentText(path);
}

QString TFileBrowser::CurrentFolder() const { return entries_->filePath(FileList->rootIndex()); }

void TFileBrowser::SetViewStyle(int Style) {
  const int small = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, FileList);
  const int large = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, FileList);
  const bool icons = Style == vsIcons || Style == vsSmallIcons;
  FileList->setViewMode(icons ? QListView::IconMode : QListView::ListMode);
  FileList->setIconSize(Style == vsIcons ? QSize(large, large) : QSize(small, small));
  FileList->setFlow(icons ? QListView::LeftToRight : QListView::TopToBottom);
  FileList->setWrapping(Style != vsReport);
  FileList->setResizeMode(QListView::Adjust);
  FileList->setMovement(QListView::Static);
  FileList->setWordWrap(Style == vsIcons);
  FileList->setGridSize(Style == vsIcons ? QSize(large * 3, large * 2) : QSize());
}
