#pragma once
// A session as a server would send it: registration, a channel joined with
// its names and topic, chat with actions, private messages, CTCP, notices,
// joins, parts, modes, kicks (also of the own nick), quits, nick changes, a
// channel list, keep-alives, and a few damaged lines (over-long, NUL bytes,
// LF without CR, empty lines).
#include <string>

namespace protocoltest {

inline std::string SessionBytes() {
  std::string s;
  auto line = [&](const std::string& l) { s += l + "\r\n"; };
  const std::string srv = ":irc.example.net ";
  auto nick = [](int i) { return "user" + std::to_string(i % 40); };
  auto src = [&](int i) { return ":" + nick(i) + "!~u" + std::to_string(i % 40) + "@10.0.0." +
                                 std::to_string(i % 40) + " "; };

  line("NOTICE AUTH :*** Looking up your hostname...");
  line("NOTICE AUTH :*** Couldn't resolve your hostname; using your IP address instead");
  line(srv + "001 me :Welcome to the Example Internet Relay Chat Network me");
  line(srv + "002 me :Your host is irc.example.net, running version ircd-2.0");
  line(srv + "003 me :This server was created Mon Jan 1 2024 at 10:00:00");
  line(srv + "004 me irc.example.net ircd-2.0 aiorsw biklmnopstv");
  line(srv + "005 me CHANTYPES=#& PREFIX=(ov)@+ :are supported on this server");
  for (int i = 0; i < 10; ++i) line(srv + "372 me :- Message of the day, line " + std::to_string(i));
  line(srv + "376 me :End of MOTD command");
  line(":me MODE me :+i");
  line(":me!~me@127.0.0.1 JOIN :#chat");
  for (int b = 0; b < 2; ++b) {
    std::string names;
    for (int i = 0; i < 20; ++i) names += (i % 7 == 0 ? "@" : "") + nick(b * 20 + i) + " ";
    line(srv + "353 me = #chat :" + names + (b == 1 ? "me" : ""));
  }
  line(srv + "366 me #chat :End of NAMES list");
  line(srv + "332 me #chat :Welcome to #chat, be nice");
  line(srv + "333 me #chat alice 1700000000");

  for (int i = 0; i < 200; ++i) {
    const std::string who = src(i);
    switch (i % 24) {
      case 3: line(who + "PRIVMSG #chat :\x01" "ACTION looks around " + std::to_string(i) + "\x01"); break;
      case 5: line(who + "PRIVMSG me :private word " + std::to_string(i)); break;
      case 7: line(who + "PRIVMSG me :\x01PING " + std::to_string(1000 + i) + "\x01"); break;
      case 8: line(who + "PRIVMSG #chat :\x01VERSION\x01"); break;
      case 9: line(who + "NOTICE me :\x01PING " + std::to_string(i * 997) + "\x01"); break;
      case 10: line(who + "NOTICE #chat :notice number " + std::to_string(i)); break;
      case 11: line(":user" + std::to_string(40 + i) + "!x@h JOIN :#chat"); break;
      case 12: line(":user" + std::to_string(40 + i - 1) + "!x@h PART #chat"); break;
      case 13: line(":alice!a@h MODE #chat +o-v+b " + nick(i) + " " + nick(i + 1) + " *!*@bad"); break;
      case 14: line(":alice!a@h KICK #chat " + nick(i) + " :behave"); break;
      case 15: line(who + "QUIT :Quit: bye " + std::to_string(i)); break;
      case 16: line(who + "NICK :" + nick(i) + "_"); break;
      case 17: line(":alice!a@h TOPIC #chat :topic number " + std::to_string(i)); break;
      case 18: line("PING :irc.example.net"); break;
      case 19: line(who + "PRIVMSG #chat :\x01TIME\x01"); break;
      case 20: line(who + "INVITE me :#other"); break;
      default: line(who + "PRIVMSG #chat :message " + std::to_string(i) + " with some ordinary words"); break;
    }
  }

  // Damaged input between ordinary lines.
  s += "PING :" + std::string(1100, 'x') + "\r\n";    // too long: dropped whole
  s += "PING :" + std::string(1015, 'y') + "\r\n";    // exactly fits: 1022 bytes before the LF
  s += "PING :" + std::string(1016, 'z') + "\r\n";    // one byte too many: dropped
  s += std::string(2100, 'q');                        // a long run ending in a line
  s += " tail of a long run\r\n";
  s += std::string("PING :nul") + '\0' + "inside\r\n";
  s += std::string(40, '\0');
  s += "PING :lf-only\n\r\n\n   \r\n";
  line(":alice!a@h KICK #chat me :out");
  line(srv + "353 me = #chat :@alice me bob");
  line(srv + "366 me #chat :End of NAMES list");
  line(srv + "321 me Channel :Users Name");
  for (int i = 0; i < 30; ++i) line(srv + "322 me #room" + std::to_string(i) + " " + std::to_string(i + 3) + " :room " + std::to_string(i));
  line(srv + "323 me :End of LIST");
  line(":me!~me@127.0.0.1 NICK :me2");
  line(":me2!~me@127.0.0.1 PRIVMSG #chat :done");
  line("PING :end");
  return s;
}

}  // namespace protocoltest
