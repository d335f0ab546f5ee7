#pragma once
// The built-in file browser of the main window: a path box, a folder tree and
// a file list linked so that choosing a folder in the tree or the path box
// shows its content in the list. Items are dragged out of the tree and the
// list as local-file URLs.
#include <QComboBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QTreeView>
#include <QWidget>

class TFileBrowser : public QWidget {
  Q_OBJECT

 public:
  explicit TFileBrowser(QWidget* parent = nullptr);

  // The view styles of the "View style" box, in its order.
  enum TViewStyle { vsIcons, vsList, vsReport, vsSmallIcons };
  void SetViewStyle(int Style);
  // Shows Folder in the tree, the list and the path box.
  void ShowFolder(const QString& Folder);
  [[nodiscard]] QString CurrentFolder() const;

  QComboBox* PathBox = nullptr;
  QLabel* WebLink = nullptr;
  QTreeView* FolderTree = nullptr;
  QListView* FileList = nullptr;
  QComboBox* ViewStyle = nullptr;

 private:
  void BuildViews();
  void PathBoxChosen();

  QFileSystemModel* folders_ = nullptr;
  QFileSystemModel* entries_ = nullptr;
};
