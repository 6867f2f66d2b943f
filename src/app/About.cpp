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

  ProgramIcon = new QLabel;
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(QApplication::windowIcon().isNull()
                             ? style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32)
                             : QApplication::windowIcon().pixmap(32, 32));
  ProductName = new QLabel("Zorv, an Internet Relay Chat client");
  ProductName->setObjectName("ProductName");
  Version = new QLabel(QString("Version : ") + zorv::kProductVersion);
  Version->setObjectName("Version");

  Comments = new QPlainTextEdit;
  Comments->setObjectName("Comments");
  Comments->setReadOnly(true);
  Comments->setPlainText(QString("Zorv is freeware. You may use it and pass it on freely. It comes "
                                 "without any warranty.\n\nThe latest version is at the Zorv homepage: ") +
                         zorv::kHomePage);
  QPalette pal = Comments->palette();
  pal.setColor(QPalette::Base, QColor(192, 192, 192));
  Comments->setPalette(pal);
  Comments->setFixedHeight(90);
  Comments->installEventFilter(this);

  OKButton = new QPushButton("&OK");
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(ProgramIcon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(ProductName);
  texts->addWidget(Version);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Comments);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
  setFixedSize(sizeHint().expandedTo(QSize(300, 200)));
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  // The notice is only to be read: focus moves on to OK.
  if (watched == Comments && event->type() == QEvent::FocusIn) OKButton->setFocus();
  return QDialog::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}
