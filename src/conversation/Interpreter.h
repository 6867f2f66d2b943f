#pragma once
// The command interpreter of a conversation window's input line, as a plain
// function: what the user typed in, the lines to write, the windows to close
// and the one protocol line to send out.
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

struct InterpretResult {
  std::vector<std::string> writes;      // lines to append to this window's pane, in order
  std::vector<std::string> closeNames;  // windows to close via CloseChild, before the send
  bool closeSelf = false;               // close this window (before the send)
  std::string send;                     // the line to send ("" = nothing)
  // Plain chat text is sent before its echo is written; the writes of a
  // command (echo or usage text) come before its send.
  bool sendBeforeWrites = false;
};

// The typed text as the interpreter and the history take it: line breaks
// (CR LF, a lone CR or LF) and NUL bytes become one blank each, so pasted text
// never makes more than one protocol line; then every trailing byte of code 32
// or below is removed. Leading blanks stay.
std::string CleanInput(std::string_view typed);

// Handles one Enter. typed is cleaned with CleanInput first; windowName is
// LeftStr of the window's caption; nick the own nickname; timeOfDayMs the local
// time of day in milliseconds (for the CTCP PING stamp).
InterpretResult Interpret(std::string_view typed, std::string_view windowName, std::string_view nick,
                          int timeOfDayMs);

}  // namespace zorv
