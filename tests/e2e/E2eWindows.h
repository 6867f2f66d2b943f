#pragma once
// What the end-to-end tests read from and type into Zorv's windows.
#include "ZorvWindows.h"

namespace e2e {
using testsupport::countInWindow;
using testsupport::listed;
using testsupport::nicks;
using testsupport::paneLines;
using testsupport::type;
using testsupport::window;
}  // namespace e2e
