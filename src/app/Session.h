#pragma once
// The connection to one IRC server, without any widget: the socket, the
// inbound engine, the keeper (lag check, reconnect, send-queue bound) and
// the login. The session is the engine's Frame; it shows what happens through
// its SessionHost, so it runs the same under the main window and under a
// recording host in tests.
#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ConnectionKeeper.h"
#include "Frame.h"
#include "SessionHost.h"
#include "WSocket.h"

class InboundEngine;

class Session : public QObject, public Frame, private KeptConnection {
  Q_OBJECT
 public:
  Session(SessionHost& host, QObject* parent = nullptr);
  ~Session() override;

  // --- What the user does ------------------------------------------------------
  void Connect();         // Connect pressed: to the host's Target()
  void ConnectAgain() override;  // the reconnect's attempt: the user stays where they are
  void Disconnect();      // QUIT, then the close; a waiting reconnect is called off
  // Calls off a waiting reconnect (the main window is closing).
  void CallOffReconnect();
  // Channels to join when the welcome of that server and port arrives (from
  // a link given at start).
  void JoinWhenRegistered(const std::string& server, const std::string& port, std::vector<std::string> channels);
  // The user typed a command for the server in that window.
  void CommandTyped(const std::string& window);

  bool IsConnected() const;
  TWSocket& Socket() const { return *socket_; }
  ConnectionKeeper& Keeper() const { return *keeper_; }
  KeepAliveSettings& KeepAlive() const { return *keepAlive_; }

  // --- Frame: what the engine asks of the connection and the windows ------------
  void AddText(const std::string& name, const std::string& text, bool create) override;
  void SendMsg(const std::string& line) override;
  void SetTopic(const std::string& name, const std::string& text, bool wholeCaption) override {
    host_.SetTopic(name, text, wholeCaption);
  }
  std::string OwnNick() const override { return host_.OwnNick(); }
  void SetOwnNick(const std::string& nick) override { host_.SetOwnNick(nick); }
  void FillNames(const std::string& p) override { host_.FillNames(p); }
  void EndNames(const std::string& p) override { host_.EndNames(p); }
  void AddNick(const std::string& channel, const std::string& nick) override { host_.AddNick(channel, nick); }
  void DelNick(const std::string& channel, const std::string& nick) override { host_.DelNick(channel, nick); }
  void QuitNick(const std::string& nick, const std::string& text) override { host_.QuitNick(nick, text); }
  void ChangeNick(const std::string& oldNick, const std::string& newNick) override {
    host_.ChangeNick(oldNick, newNick);
  }
  void ModeNick(const std::string& channel, const std::string& nick, bool give) override {
    host_.ModeNick(channel, nick, give);
  }
  void ResetNames(const std::string& channel) override { host_.ResetNames(channel); }
  void ChannelListStart() override { host_.ChannelListStart(); }
  void AddChannelRow(const std::string& p) override { host_.AddChannelRow(p); }
  void ChannelListEnd() override { host_.ChannelListEnd(); }
  void AwayNick(const std::string& nick, bool away) override { host_.AwayNick(nick, away); }
  void NickAccount(const std::string& nick, const std::string& account) override {
    host_.NickAccount(nick, account);
  }
  void SaidAt(long long utcMs) override { host_.SaidAt(utcMs); }
  void Batch(bool open) override { host_.Batch(open); }
  // The capabilities the server acknowledged on this connection (Caps.h).
  std::uint32_t Capabilities() const;
  // The server's welcome: a restored connection joins its channels again, and
  // a link's channels are joined.
  void Registered() override;
  zorv::SaslConfig Sasl() const override { return host_.Login(); }  // with [Connection] Capabilities
  bool HasWindow(const std::string& name) const override { return host_.HasWindow(name); }
  std::string ActiveWindow() const override { return host_.ActiveWindow(); }
  LastCommand LastCommandTyped() const override { return lastCommand_; }
  void Alert() override { host_.Alert(); }
  int TimeOfDayMs() const override;
  std::string LocalShortDate() const override;
  std::string LocalLongTime() const override;

 private:
  void BuildSocket();
  void StartConnect(bool byUser);
  // The socket's events.
  void OnLookupDone(uint16_t error);
  void OnConnected(uint16_t error);
  void OnClosed(uint16_t error);
  void OnDataAvailable();

  // KeptConnection: what the keeper asks of the connection.
  void SayInServerWindow(const std::string& text) override;
  void SayInConversations(const std::string& text) override { host_.ShowInConversations(text); }
  void Abort() override;
  std::vector<std::string> OpenWindows() const override { return host_.OpenWindows(); }
  void ReconnectWaiting(bool waiting) override { host_.ReconnectWaiting(waiting); }

  SessionHost& host_;
  TWSocket* socket_ = nullptr;
  KeepAliveSettings* keepAlive_ = nullptr;
  ConnectionKeeper* keeper_ = nullptr;
  std::unique_ptr<InboundEngine> engine_;
  bool userConnect_ = false;  // the connection under way was asked for by the user
  LastCommand lastCommand_;
  struct PendingJoins {
    std::string server, port;
    std::vector<std::string> channels;
  } pendingJoins_;
};
