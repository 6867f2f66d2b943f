#pragma once
// Opening an irc:// or ircs:// link given at start in the main window.
#include <string>

class TMainForm;

namespace zorv {

// Fills Server, Port and TLS (on for ircs://) from the link, connects and
// joins its channels once registered. A link that cannot be used only writes
// a line into the Server window saying why nothing is connected.
void OpenLink(TMainForm& form, const std::string& link);

}  // namespace zorv
