#pragma once
// What a Session needs from whoever shows it: the main window, or a recording
// host in tests. The session reports what to show and where, the state of the
// connection, and asks the question about a certificate; it reads where to
// connect from the host, and passes on the engine's requests that are the
// windows' business (nick lists, topics, the channel list).
#include <string>
#include <vector>

#include "CertificatePrompt.h"
#include "Frame.h"
#include "Sasl.h"

struct TSslPeer;

// What the connection controls show: no connection, one being made (the
// lookup and the connect), one established.
enum class ConnectionState { Idle, Connecting, Connected };

// Where a connection goes, as the user set it.
struct ConnectTarget {
  std::string nick;
  std::string server;  // as typed ("[::1]")
  std::string host;    // the host the server field names ("::1")
  std::string port;
  bool tls = false;
};

class SessionHost {
 public:
  virtual ~SessionHost() = default;

  // --- What to show, where ------------------------------------------------------
  // A line for the named window, opened for it when create is set.
  virtual void Show(const std::string& window, const std::string& text, bool create) = 0;
  // A line in every open conversation window but the Server window.
  virtual void ShowInConversations(const std::string& text) = 0;
  // The Server window comes to the front (after a Connect the user pressed).
  virtual void BringServerWindowToFront() = 0;
  // The names of the open conversation windows, in the order they were opened.
  virtual std::vector<std::string> OpenWindows() const = 0;
  virtual bool HasWindow(const std::string& name) const = 0;
  virtual std::string ActiveWindow() const = 0;  // "" when none

  // --- The connection's state ------------------------------------------------------
  virtual void ConnectionChanged(ConnectionState state) = 0;
  // The connection closed ("Disconnected" is shown): the channel windows'
  // nick lists are emptied and the logs written.
  virtual void ConnectionClosed() = 0;
  // A connection to host is being made (the logs go to its folder).
  virtual void NetworkChosen(const std::string& host) = 0;
  // A reconnect started or stopped waiting; Disconnect calls it off meanwhile.
  virtual void ReconnectWaiting(bool waiting) = 0;

  // --- The question about a certificate ---------------------------------------------
  virtual zorv::CertAnswer AskCertificate(const TSslPeer& peer) = 0;

  // --- What the user set --------------------------------------------------------------
  virtual ConnectTarget Target() const = 0;
  virtual zorv::SaslConfig Login() const = 0;
  virtual std::string OwnNick() const = 0;
  virtual void SetOwnNick(const std::string& nick) = 0;

  // --- The windows' side of the engine's requests ----------------------------------------
  virtual void SetTopic(const std::string& name, const std::string& text, bool wholeCaption) = 0;
  virtual void FillNames(const std::string& p) = 0;
  virtual void EndNames(const std::string& p) = 0;
  virtual void AddNick(const std::string& channel, const std::string& nick) = 0;
  virtual void DelNick(const std::string& channel, const std::string& nick) = 0;
  virtual void QuitNick(const std::string& nick, const std::string& text) = 0;
  virtual void ChangeNick(const std::string& oldNick, const std::string& newNick) = 0;
  virtual void ModeNick(const std::string& channel, const std::string& nick, bool give) = 0;
  virtual void ResetNames(const std::string& channel) = 0;
  virtual void ChannelListStart() = 0;
  virtual void AddChannelRow(const std::string& p) = 0;
  virtual void ChannelListEnd() = 0;
  virtual void Alert() = 0;
  // What capabilities add (nothing unless the host shows it).
  virtual void AwayNick(const std::string& /*nick*/, bool /*away*/) {}
  virtual void NickAccount(const std::string& /*nick*/, const std::string& /*account*/) {}
  virtual void SaidAt(long long /*utcMs*/) {}
  virtual void Batch(bool /*open*/) {}
};
