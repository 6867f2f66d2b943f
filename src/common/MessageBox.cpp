#include "MessageBox.h"

#include <cstdio>

namespace zorv {
namespace {
MessagePresenter& presenter() {
  static MessagePresenter p;
  return p;
}
QuestionAsker& asker() {
  static QuestionAsker a;
  return a;
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

bool askQuestion(const QString& text, const QString& caption) {
  if (asker()) return asker()(text, caption);
  std::fprintf(stderr, "%s: %s (no)\n", qPrintable(caption), qPrintable(text));
  return false;
}

QuestionAsker setQuestionAsker(QuestionAsker a) {
  QuestionAsker old = std::move(asker());
  asker() = std::move(a);
  return old;
}

}  // namespace zorv
