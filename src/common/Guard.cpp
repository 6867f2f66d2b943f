#include "Guard.h"

#include <exception>

#include "MessageBox.h"

namespace zorv {

void guarded(const std::function<void()>& action, const QString& caption) {
  try {
    action();
  } catch (const std::exception& e) {
    showMessageBox(QString::fromLocal8Bit(e.what()), caption, MessageIcon::Error);
  }
}

}  // namespace zorv
