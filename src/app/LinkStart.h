#pragma once
// Opening an irc:// or ircs:// link given at start in the main window.
#include <string>

class TMainForm;

namespace zorv {

// Fills Server and Port from the link, connects and joins its channels once
// registered. A link that cannot be used, and a secure link (secure
// connections do not exist yet), only write a line into the Server window
// saying why nothing is connected.
void OpenLink(TMainForm& form, const std::string& link);

}  // namespace zorv
