#include <QApplication>
#include <QMessageBox>

#include "Icon.h"
#include "Main.h"
#include "MessageBox.h"
#include "Termination.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Zorv");
  QApplication::setWindowIcon(zorv::programIcon());
  zorv::setMessagePresenter([](const QString& text, const QString& caption, zorv::MessageIcon icon) {
    QMessageBox box(icon == zorv::MessageIcon::Error     ? QMessageBox::Critical
                    : icon == zorv::MessageIcon::Warning ? QMessageBox::Warning
                                                         : QMessageBox::Information,
                    caption.isEmpty() ? QString("Zorv") : caption, text, QMessageBox::Ok);
    box.exec();
  });

  auto* form = new TMainForm;
  zorv::installTerminationHandler(&app, [form] { form->close(); });
  form->show();
  const int rc = QApplication::exec();
  delete form;  // saves the settings
  return rc;
}
