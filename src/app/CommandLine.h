#pragma once
// What the command line asks of the program: print the help or the version,
// or run, opening an irc:// or ircs:// link once the main window is up.
#include <string>
#include <vector>

namespace zorv {

enum class StartAction { Run, PrintHelp, PrintVersion, Refuse };

struct StartRequest {
  StartAction action = StartAction::Run;
  std::string link;   // the irc:// or ircs:// argument, when one is given
  std::string error;  // what is wrong with the arguments (for Refuse)
};

// Reads the arguments after the program's name. --help (or -h) and --version
// win wherever they stand (the first of them given); apart from them one irc:// or ircs:// link may be
// given; anything else is refused.
StartRequest ReadCommandLine(const std::vector<std::string>& args);

std::string HelpText();
std::string VersionText();

}  // namespace zorv
