#pragma once
// Ends the program the normal way on SIGTERM, SIGINT or SIGHUP (a desktop
// logout, Ctrl+C in a terminal): the handler only wakes the event loop, which
// then runs `onSignal` on the UI thread, so QUIT is sent and the settings are
// saved as when the user closes the main window.
#include <functional>

class QObject;

namespace zorv {

// Installs the handlers; `onSignal` runs on the UI thread once per signal.
// Call it once, after the QApplication exists.
void installTerminationHandler(QObject* parent, std::function<void()> onSignal);

}  // namespace zorv
