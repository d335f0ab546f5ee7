#pragma once
// The about box: the program's name and version over a picture, and a link
// to the web site. Clicking the picture closes it.
#include <QDialog>
#include <QUrl>

class QLabel;
class QSvgRenderer;

// The web site the about box and the main window's link label open.
[[nodiscard]] QUrl VelmorWebSite();

class TfrmInfo : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmInfo(QWidget* parent = nullptr);

  QLabel* Label3;
  QLabel* Label4;

  // Shows the build's version: "Version 0.1.0.0".
  void FormShow();
  void Image1Click();
  // Opens the web site in the user's browser; nothing happens when the
  // desktop has no handler for web addresses.
  void Label4Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  [[nodiscard]] QWidget* TextPanel();

  QSvgRenderer* picture_;
};
