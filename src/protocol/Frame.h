#pragma once
// The one seam between the inbound engine and the windows: everything the
// engine needs from the main window. TMainForm implements it; tests use a
// recording fake. All texts are bytes as they came off the wire.
#include <string>

#include "Sasl.h"

class Frame {
 public:
  virtual ~Frame() = default;

  // Output routing and sending.
  virtual void AddText(const std::string& name, const std::string& text, bool create) = 0;
  virtual void SendMsg(const std::string& line) = 0;
  virtual void SetTopic(const std::string& name, const std::string& text, bool wholeCaption) = 0;

  // The own nickname (the text of the Nick field) and changing it.
  virtual std::string OwnNick() const = 0;
  virtual void SetOwnNick(const std::string& nick) = 0;

  // Channel operations, each acting on every matching window.
  virtual void FillNames(const std::string& p) = 0;  // P' of a 353 reply
  virtual void EndNames(const std::string& p) = 0;   // P' of a 366 reply
  virtual void AddNick(const std::string& channel, const std::string& nick) = 0;
  virtual void DelNick(const std::string& channel, const std::string& nick) = 0;
  virtual void QuitNick(const std::string& nick, const std::string& text) = 0;
  virtual void ChangeNick(const std::string& oldNick, const std::string& newNick) = 0;
  virtual void ModeNick(const std::string& channel, const std::string& nick, bool give) = 0;
  virtual void ResetNames(const std::string& channel) = 0;

  // The channel list: 321 (one row, show the window), 322 (one row), 323 (one row less).
  virtual void ChannelListStart() = 0;
  virtual void AddChannelRow(const std::string& p) = 0;
  virtual void ChannelListEnd() = 0;

  // What the server's capabilities tell about nicks: away (greyed in the nick
  // lists) or back, and the account a nick is logged in as ("" when none).
  virtual void AwayNick(const std::string& /*nick*/, bool /*away*/) {}
  virtual void NickAccount(const std::string& /*nick*/, const std::string& /*account*/) {}
  // The lines shown from now on were said at utcMs (ms since 1970, UTC), not
  // now; 0 returns to now.
  virtual void SaidAt(long long /*utcMs*/) {}
  // A batch of lines (a bouncer's playback) is shown: open, then closed.
  virtual void Batch(bool /*open*/) {}

  // The server has accepted the registration (its 001 welcome arrived).
  virtual void Registered() {}

  // What the connection logs in with (read when its registration opens).
  virtual zorv::SaslConfig Sasl() const { return {}; }

  // Where the user is, for the answers to what the user just did: whether a
  // window of that name is open, the active window ("" when none), and where
  // (window "" when nowhere) and when (time of day in ms) the user last typed
  // a command for the server.
  struct LastCommand {
    std::string window;
    int atMs = 0;
  };
  virtual bool HasWindow(const std::string& /*name*/) const { return false; }
  virtual std::string ActiveWindow() const { return {}; }
  virtual LastCommand LastCommandTyped() const { return {}; }

  // The platform's default alert sound.
  virtual void Alert() = 0;

  // Clock and locale: local time of day in milliseconds since midnight
  // (0..86399999), the local date in the locale's short form and the local
  // time in the locale's long form.
  virtual int TimeOfDayMs() const = 0;
  virtual std::string LocalShortDate() const = 0;
  virtual std::string LocalLongTime() const = 0;
};
