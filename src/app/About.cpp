#include "About.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "Product.h"

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setModal(true);

  programIcon = new QLabel;
  programIcon->setObjectName("ProgramIcon");
  programIcon->setPixmap(QApplication::windowIcon().isNull()
                             ? style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32)
                             : QApplication::windowIcon().pixmap(32, 32));
  productName = new QLabel("Zorv, an Internet Relay Chat client");
  productName->setObjectName("ProductName");
  version = new QLabel(QString("Version : ") + zorv::kProductVersion);
  version->setObjectName("Version");

  comments = new QPlainTextEdit;
  comments->setObjectName("Comments");
  comments->setReadOnly(true);
  comments->setPlainText(QString("Zorv is freeware. You may use it and pass it on freely. It comes "
                                 "without any warranty.\n\nThe latest version is at the Zorv homepage: ") +
                         zorv::kHomePage);
  QPalette pal = comments->palette();
  pal.setColor(QPalette::Base, QColor(192, 192, 192));
  comments->setPalette(pal);
  comments->setFixedHeight(90);
  comments->installEventFilter(this);

  okButton = new QPushButton("&OK");
  okButton->setObjectName("OKButton");
  okButton->setDefault(true);
  connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(programIcon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(productName);
  texts->addWidget(version);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(comments);
  layout->addWidget(okButton, 0, Qt::AlignHCenter);
  setFixedSize(sizeHint().expandedTo(QSize(300, 200)));
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  // The notice is only to be read: focus moves on to OK.
  if (watched == comments && event->type() == QEvent::FocusIn) okButton->setFocus();
  return QDialog::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}
