// The Zorv program as src/app/Program.cpp starts it, plus one step: once the main
// window has been painted for the first time, it writes the monotonic clock
// ("painted <ns>") to standard output and presses Connect. Server and port come
// from the settings file beside the executable, as for zorv itself. The shipped
// program has no such step; this one exists so that a
// driver can start the whole program on the offscreen platform, where nothing
// can click the button.
//
// Message boxes are written to standard error instead of waiting for a click.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "Main.h"
#include "MessageBox.h"
#include "Termination.h"

namespace {

long long monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Sees the first paint of any widget of the main window; the whole window is
// painted in that same pass, so a zero timer fires once it is on screen.
class FirstPaint : public QObject {
 public:
  explicit FirstPaint(TMainForm* form) : form_(form) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!seen_ && event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == form_) {
      seen_ = true;
      QTimer::singleShot(0, form_, [form = form_] {
        std::printf("painted %lld\n", monotonicNs());
        std::fflush(stdout);
        form->OnConnectClicked();
      });
    }
    return false;
  }

 private:
  TMainForm* form_;
  bool seen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Zorv");
  zorv::setMessagePresenter([](const QString& text, const QString&, zorv::MessageIcon) {
    std::fprintf(stderr, "message box: %s\n", text.toLocal8Bit().constData());
  });
  auto* form = new TMainForm;
  zorv::installTerminationHandler(&app, [form] { form->close(); });
  FirstPaint watcher(form);
  app.installEventFilter(&watcher);
  form->show();
  const int rc = QApplication::exec();
  app.removeEventFilter(&watcher);
  delete form;
  return rc;
}
