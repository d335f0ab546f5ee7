#pragma once
// The compilation list `files`: one source path per line. It takes drops of
// local files and folders, from the built-in browser (which drags them as
// URLs) and from the desktop's file manager (text/uri-list) alike; drops
// anywhere else in the window are not accepted.
#include <QListWidget>
#include <QString>

class TCompilationList : public QListWidget {
  Q_OBJECT

 public:
  explicit TCompilationList(QWidget* parent = nullptr);

 signals:
  // One dropped item, in drop order.
  void ItemDropped(const QString& Path, bool IsFolder);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  [[nodiscard]] Qt::DropActions supportedDropActions() const override;
};
