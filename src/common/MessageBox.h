#pragma once
// Every message box of the program goes through showMessageBox, so that a test
// can replace the presenter, see what would have been shown, and never block
// on a modal dialog.
#include <QString>
#include <functional>

namespace zorv {

enum class MessageIcon { Information, Warning, Error };

using MessagePresenter =
    std::function<void(const QString& text, const QString& caption, MessageIcon icon)>;

// Shows a message box through the installed presenter (stderr when none).
void showMessageBox(const QString& text, const QString& caption = QString(),
                    MessageIcon icon = MessageIcon::Error);

// Installs a presenter and returns the previous one.
MessagePresenter setMessagePresenter(MessagePresenter presenter);

// A yes-or-no question the same way: true for yes. With no asker installed
// the question is written to stderr and the answer is no.
using QuestionAsker = std::function<bool(const QString& text, const QString& caption)>;
bool askQuestion(const QString& text, const QString& caption = QString());
QuestionAsker setQuestionAsker(QuestionAsker asker);

}  // namespace zorv
