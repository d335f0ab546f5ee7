#include "app/Info.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace {

QLabel* BoldLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSize(10);
  label->setFont(font);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

QUrl VelmorWebSite() { return QUrl(QStringLiteral("https://velmor.example.org/")); }

TfrmInfo::TfrmInfo(QWidget* parent)
    : QDialog(parent),
      Label3(BoldLabel(QStringLiteral("version 3.1.xx.xx"), this)),
      Label4(BoldLabel(QStringLiteral("<a href=\"%1\">Velmor softwares website</a>").arg(VelmorWebSite().toString()),
                       this)),
      picture_(new QSvgRenderer(QStringLiteral(":/icons/aboutbox.svg"), this)) {
  setWindowTitle(QStringLiteral("Velmor CD DVD Burner"));
  setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  Label4->setTextFormat(Qt::RichText);
  Label4->setCursor(Qt::PointingHandCursor);
  connect(Label4, &QLabel::linkActivated, this, &TfrmInfo::Label4Click);

  auto* overPicture = new QHBoxLayout(this);
  overPicture->setContentsMargins(24, 24, 24, 24);
  overPicture->addStretch(47);
  overPicture->addWidget(TextPanel(), 33);
  resize(799, 599);
}

// The product name, version, notice and link, right-aligned on the
// picture's light panel (its right 45 %) at any size and scale.
QWidget* TfrmInfo::TextPanel() {
  auto* panel = new QWidget(this);
  panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* line = new QFrame(panel);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  QLabel* notice = BoldLabel(QStringLiteral("Free software: use and share it at will."), panel);
  notice->setWordWrap(true);
  auto* text = new QVBoxLayout(panel);
  text->setContentsMargins(0, 0, 0, 0);
  text->addWidget(BoldLabel(QStringLiteral("Velmor CD DVD BURNER"), panel));
  text->addWidget(Label3);
  text->addWidget(notice);
  text->addWidget(line);
  text->addWidget(Label4);
  text->addStretch();
  return panel;
}

void TfrmInfo::FormShow() { Label3->setText(QStringLiteral("Version " VELMOR_FILE_VERSION)); }

void TfrmInfo::Image1Click() { close(); }

void TfrmInfo::Label4Click() { QDesktopServices::openUrl(VelmorWebSite()); }

void TfrmInfo::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

// The picture fills the window whatever its size and scale.
void TfrmInfo::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  picture_->render(&painter, rect());
}

void TfrmInfo::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Image1Click();
}
