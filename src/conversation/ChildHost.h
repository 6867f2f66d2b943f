#pragma once
// What a conversation window needs from the main window. TMainForm implements
// it; widget tests of the conversation window use a recording fake.
#include <QString>
#include <string>
#include <vector>

class TMDIChild;

class ChildHost {
 public:
  virtual ~ChildHost() = default;

  virtual void SendMsg(const std::string& line) = 0;
  // Whether a line handed to SendMsg now would go to a server.
  virtual bool IsConnected() const = 0;
  virtual std::string OwnNick() const = 0;  // text of nickField, as bytes
  virtual void SetTopic(const std::string& name, const std::string& text, bool wholeCaption) = 0;
  virtual void RemoveSelectBar(const std::string& name) = 0;
  virtual void Disconnect() = 0;  // the Server window closed: QUIT and close
  virtual void CloseChild(const std::string& name) = 0;
  virtual void NewChild(const std::string& name) = 0;
  virtual void ChildFocus(const std::string& name) = 0;  // brings the named windows to the front
  virtual void AddText(const std::string& name, const std::string& text, bool create) = 0;
  virtual bool IsActiveChild(const TMDIChild* child) const = 0;
  virtual QString ChatFontName() const = 0;  // caption of chatFontLabel
  virtual QString ChatFontSize() const = 0;  // caption of chatSizeLabel
  virtual bool ChatWordWrap() const = 0;     // word wrap in the text panes
  virtual int TimeOfDayMs() const = 0;
  // The time of day the line being shown was said (now, unless it says otherwise).
  virtual int LineTimeOfDayMs() const { return TimeOfDayMs(); }
  // The user typed a command for the server in that window (its answers may be shown there).
  virtual void CommandTyped(const std::string& /*window*/) {}
  // Every line a window shows, for its log (nothing by default).
  virtual void LogLine(const std::string& /*window*/, const std::string& /*text*/) {}
  // Lines the active window keeps; 0 keeps every line.
  virtual int ScrollbackLines() const { return 0; }
  // Whether new lines carry the time they arrived.
  virtual bool ChatTimestamps() const { return false; }
  // Whether the server echoes the user's messages (they are shown then, not
  // when sent, so once).
  virtual bool ServerEchoes() const { return false; }
  // Someone named the user in child (mention), or wrote in a private window.
  virtual void NeedsAttention(const TMDIChild* /*child*/, bool /*mention*/) {}
  // The user has seen the window named name: its mentions are read.
  virtual void MentionsSeen(const std::string& /*name*/) {}
  // The user clicked an irc:// or ircs:// link in a window's text.
  virtual void OpenIrcLink(const std::string& /*link*/) {}
  // The open channel windows' names, for completion.
  virtual std::vector<std::string> ChannelNames() const { return {}; }
};
