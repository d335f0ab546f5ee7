#include "app/CompilationList.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace {

[[nodiscard]] bool CarriesLocalFiles(const QMimeData* Data) {
  if (Data == nullptr || !Data->hasUrls()) return false;
  for (const QUrl& url : Data->urls()) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

}  // namespace

TCompilationList::TCompilationList(QWidget* parent) : QListWidget(parent) {
  setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void TCompilationList::dragEnterEvent(QDragEnterEvent* event) {
  if (CarriesLocalFiles(event->mimeData())) event->acceptProposedAction();
}

void TCompilationList::dragMoveEvent(QDragMoveEvent* event) {
  if (CarriesLocalFiles(event->mimeData())) event->acceptProposedAction();
}

void TCompilationList::dropEvent(QDropEvent* event) {
  if (!CarriesLocalFiles(event->mimeData())) return;
  event->setDropAction(Qt::CopyAction);
  event->accept();
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    emit ItemDropped(path, QFileInfo(path).isDir());
  }
}

Qt::DropActions TCompilationList::supportedDropActions() const {
  return Qt::CopyAction | Qt::LinkAction | Qt::MoveAction;
}
