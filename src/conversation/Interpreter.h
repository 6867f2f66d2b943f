#pragma once
// The command interpreter of a conversation window's input line, as a plain
// function: what the user typed in, the lines to write, the windows to close
// and the protocol lines to send out.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

struct InterpretResult {
  std::vector<std::string> writes;      // lines to append to this window's pane, in order
  std::vector<std::string> closeNames;  // windows to close via CloseChild, before the send
  bool closeSelf = false;               // close this window (before the send)
  std::string send;                     // the line to send ("" = nothing)
  std::vector<std::string> sendMore;    // further lines: the later pieces of a long text
  // Plain chat text is sent before its echo is written; the writes of a
  // command (echo or usage text) come before its send.
  bool sendBeforeWrites = false;
  // A private window to open (or bring forward) and focus, and the lines to
  // write into it after the send.
  std::string query;
  std::vector<std::string> queryWrites;
  // The server echoes messages (they are written when it does, so the
  // result writes no echo of its own).
  bool serverEchoes = false;
};

// The longest line sent to a server, without its CR LF.
inline constexpr std::size_t kMaxLineBytes = 510;

// How long a message line may be (without CR LF) so that the server can
// still relay it within 512 bytes once it has put the sender's
// ":" nick "!" user "@" host " " in front. Without a known user@host the
// longest usual one is assumed (user 10, host 63 bytes).
std::size_t RelayLimit(std::string_view nick, std::string_view userAtHost = {});

// Cuts text into pieces so that head + piece + tail of every piece is at most
// limit bytes. A cut never falls inside a UTF-8 sequence; where a blank is
// near the cut, the cut moves back to it and the blank begins the next piece.
// The pieces, joined, give text back. Empty when not even one UTF-8 sequence
// of text fits.
std::vector<std::string> SplitMessage(std::string_view head, std::string_view text, std::string_view tail,
                                      std::size_t limit);

// The typed text as the interpreter and the history take it: line breaks
// (CR LF, a lone CR or LF) and NUL bytes become one blank each, so pasted text
// never makes more than one protocol line; then every trailing byte of code 32
// or below is removed. Leading blanks stay.
std::string CleanInput(std::string_view typed);

// Handles one Enter. typed is cleaned with CleanInput first; windowName is
// LeftStr of the window's caption; nick the own nickname; timeOfDayMs the local
// time of day in milliseconds (for the CTCP PING stamp). Without a connection,
// a line that would go to the server is not sent, echoed or acted on: the
// result only says so ("*** Not sent: not connected"). serverEchoes: the
// server echoes what is sent, so messages and actions are not echoed here.
InterpretResult Interpret(std::string_view typed, std::string_view windowName, std::string_view nick,
                          int timeOfDayMs, bool connected = true, bool serverEchoes = false);

}  // namespace zorv
