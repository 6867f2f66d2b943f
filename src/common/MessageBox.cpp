#include "MessageBox.h"

#include <cstdio>

namespace zorv {
namespace {
MessagePresenter& presenter() {
  static MessagePresenter p;
  return p;
}
}  // namespace

void showMessageBox(const QString& text, const QString& caption, MessageIcon icon) {
  if (presenter()) {
    presenter()(text, caption, icon);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
}

MessagePresenter setMessagePresenter(MessagePresenter p) {
  MessagePresenter old = std::move(presenter());
  presenter() = std::move(p);
  return old;
}

}  // namespace zorv
