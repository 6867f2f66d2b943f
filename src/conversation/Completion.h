#pragma once
// Nick completion in the input line. Tab completes the word before the caret
// to a nick of the channel (ASCII letters compared ignoring case), or to a
// channel name when the word starts with "#"; Tab again moves on through the
// candidates in the nick list's order, Shift+Tab back. A nick completed at
// the start of the line is followed by ": ", anything else by a blank.
// Plain C++ over bytes (UTF-8, as typed).
#include <cstddef>
#include <string>
#include <vector>

namespace zorv {

class NickCompleter {
 public:
  struct Result {
    bool changed = false;
    std::string text;
    std::size_t caret = 0;  // byte offset into text
  };

  // One press of Tab (back: Shift+Tab) on text with the caret at byte caret.
  // nicks are the nick list's entries in list order (marks such as "@" and
  // "+" in front are not part of the nick); channels are names with "#".
  // A press on the text and caret the previous press left moves on through
  // the same candidates; any other starts again from the word before the caret.
  Result complete(const std::string& text, std::size_t caret, const std::vector<std::string>& nicks,
                  const std::vector<std::string>& channels, bool back);

 private:
  Result show();

  std::string head_, tail_;  // the text before the word and after the caret
  bool lineStart_ = false;
  std::vector<std::string> candidates_;
  std::size_t index_ = 0;
  std::string lastText_;  // what the previous press left
  std::size_t lastCaret_ = 0;
  bool cycling_ = false;
};

}  // namespace zorv
