#include "CommandLine.h"

#include "IrcLink.h"
#include "Product.h"

namespace zorv {

StartRequest ReadCommandLine(const std::vector<std::string>& args) {
  StartRequest r;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return {StartAction::PrintHelp, {}, {}};
    if (a == "--version") return {StartAction::PrintVersion, {}, {}};
  }
  for (const std::string& a : args) {
    if (!LooksLikeIrcLink(a)) {
      const bool option = !a.empty() && a[0] == '-';
      return {StartAction::Refuse, {},
              (option ? "unknown option " : "not an irc:// or ircs:// link: ") + a};
    }
    if (!r.link.empty()) return {StartAction::Refuse, {}, "only one link can be opened at a time"};
    r.link = a;
  }
  return r;
}

std::string HelpText() {
  return "Usage: zorv [irc://HOST[:PORT]/CHANNEL]\n"
         "       zorv --help | --version\n"
         "\n"
         "Zorv, an Internet Relay Chat client.\n"
         "\n"
         "  irc://HOST[:PORT]/CHANNEL   connect to HOST (port 6667 when none is given)\n"
         "                              and join CHANNEL once registered; write the\n"
         "                              channel as %23name or as name (the # is added);\n"
         "                              several channels are separated by commas\n"
         "  ircs://HOST[:PORT]/CHANNEL  the same over TLS (port 6697 when none is given);\n"
         "                              the server's certificate is checked against the\n"
         "                              system's trusted authorities and pins you accepted\n"
         "  -h, --help                  print this help and exit\n"
         "      --version               print the version and exit\n"
         "\n"
         "Settings are kept in ZORV.INI beside the program when that folder can be\n"
         "written and is not the folder Zorv was installed to, otherwise in\n"
         "$XDG_CONFIG_HOME/zorv/ZORV.INI (by default ~/.config/zorv/ZORV.INI).\n";
}

std::string VersionText() { return std::string("Zorv ") + kProductVersion + "\n"; }

}  // namespace zorv
