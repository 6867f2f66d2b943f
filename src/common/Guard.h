#pragma once
// The one guard for entries from Qt into the program's code (slots of user
// actions, socket notifications): no exception crosses Qt's event loop; its
// text is shown in a message box and the program goes on.
#include <QString>
#include <functional>

namespace zorv {

// Runs `action`; a std::exception it throws is shown with `caption`.
void guarded(const std::function<void()>& action, const QString& caption = QString());

}  // namespace zorv
