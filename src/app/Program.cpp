#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Icon.h"
#include "Main.h"
#include "MessageBox.h"
#include "Termination.h"

namespace {

std::vector<std::string> argumentsOf(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version are answered before any window system is needed.
  const zorv::StartRequest early = zorv::ReadCommandLine(argumentsOf(argc, argv));
  if (early.action == zorv::StartAction::PrintHelp || early.action == zorv::StartAction::PrintVersion) {
    const std::string text = early.action == zorv::StartAction::PrintHelp ? zorv::HelpText() : zorv::VersionText();
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
  }

  QApplication app(argc, argv);  // takes out the arguments meant for Qt
  QApplication::setApplicationName("Zorv");
  QGuiApplication::setDesktopFileName("net.sourceforge.zorv");
  const zorv::StartRequest request = zorv::ReadCommandLine(argumentsOf(argc, argv));
  if (request.action == zorv::StartAction::Refuse) {
    std::fprintf(stderr, "zorv: %s\nTry 'zorv --help'.\n", request.error.c_str());
    return 2;
  }
  QApplication::setWindowIcon(zorv::programIcon());
  zorv::setMessagePresenter([](const QString& text, const QString& caption, zorv::MessageIcon icon) {
    QMessageBox box(icon == zorv::MessageIcon::Error     ? QMessageBox::Critical
                    : icon == zorv::MessageIcon::Warning ? QMessageBox::Warning
                                                         : QMessageBox::Information,
                    caption.isEmpty() ? QString("Zorv") : caption, text, QMessageBox::Ok);
    box.exec();
  });
  zorv::setQuestionAsker([](const QString& text, const QString& caption) {
    return QMessageBox::question(nullptr, caption.isEmpty() ? QString("Zorv") : caption, text) == QMessageBox::Yes;
  });

  auto* form = new TMainForm;
  zorv::installTerminationHandler(&app, [form] { form->close(); });
  form->show();
  if (!request.link.empty()) form->ConnectToLink(request.link);
  const int rc = QApplication::exec();
  delete form;  // saves the settings
  return rc;
}
