// The main window's side of the connection: what the session reports and
// asks, shown in the conversation windows, the controls and the channel list.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "Channel.h"
#include "Childwin.h"
#include "Logbook.h"
#include "Main.h"
#include "Names.h"
#include "NamesReply.h"
#include "IrcLink.h"
#include "Session.h"
#include "Text.h"
#include "WindowNames.h"
#include "WindowRegistry.h"

using zorv::kServerWindow;

// ---------------------------------------------------------------------------
// Channel operations

void TMainForm::FillNames(const std::string& p) { ForNamesReply(p, false); }

void TMainForm::EndNames(const std::string& p) { ForNamesReply(p, true); }

void TMainForm::ForNamesReply(const std::string& p, bool end) {
  std::string channel, names;
  if (!zorv::NamesReplyChannel(p, &channel, &names)) return;
  // Only a window whose listing is still open takes the names, or its end.
  for (TMDIChild* c : registry_->Matching(channel)) {
    if (!c->NamesOpen()) continue;
    if (end)
      c->ToggleNamesOpen();
    else
      c->TakeNames(names);
  }
}

void TMainForm::AddNick(const std::string& channel, const std::string& nick) {
  for (TMDIChild* c : registry_->Matching(channel)) c->AddNick(nick);
}

void TMainForm::DelNick(const std::string& channel, const std::string& nick) {
  for (TMDIChild* c : registry_->Matching(channel)) c->RemoveNick(nick, std::string());
}

void TMainForm::QuitNick(const std::string& nick, const std::string& text) {
  for (TMDIChild* c : registry_->ChannelWindows()) c->RemoveNick(nick, text);
}

void TMainForm::ChangeNick(const std::string& oldNick, const std::string& newNick) {
  for (TMDIChild* c : registry_->ChannelWindows()) c->RenameNick(oldNick, newNick);
  registry_->RenamePrivate(oldNick, newNick);
}

void TMainForm::ModeNick(const std::string& channel, const std::string& nick, bool give) {
  for (TMDIChild* c : registry_->Matching(channel)) c->SetOperator(nick, give);
}

void TMainForm::AwayNick(const std::string& nick, bool away) {
  for (TMDIChild* c : registry_->ChannelWindows()) c->SetAway(nick, away);
}

void TMainForm::NickAccount(const std::string& nick, const std::string& account) {
  for (TMDIChild* c : registry_->ChannelWindows()) c->SetAccount(nick, account);
}

void TMainForm::SaidAt(long long utcMs) {
  saidAt_ = utcMs;
  logs->setSaidAt(utcMs);
}

void TMainForm::ResetNames(const std::string& channel) {
  for (TMDIChild* c : registry_->Matching(channel)) c->ClearNames();
}


// ---------------------------------------------------------------------------
// The own nick, the channel list, the alert, the windows the engine asks about

std::string TMainForm::OwnNick() const { return ownNick_; }

void TMainForm::SetOwnNick(const std::string& nick) { nickField->setText(zorv::toDisplay(nick)); }

void TMainForm::ChannelListStart() { channelList->ListStart(); }

void TMainForm::AddChannelRow(const std::string& p) { channelList->AddChannelRow(p); }

void TMainForm::ChannelListEnd() { channelList->ListEnd(); }

void TMainForm::Alert() { QApplication::beep(); }

bool TMainForm::HasWindow(const std::string& name) const { return ChildExist(name); }

std::string TMainForm::ActiveWindow() const {
  const TMDIChild* active = ActiveChild();
  return active ? active->WindowName() : std::string();
}

// ---------------------------------------------------------------------------
// What the session reports and asks

void TMainForm::Show(const std::string& window, const std::string& text, bool create) {
  registry_->AddText(window, text, create);
}

void TMainForm::ShowInConversations(const std::string& text) {
  for (TMDIChild* c : Children())
    if (!zorv::equalsIgnoreAsciiCase(c->WindowName(), kServerWindow)) c->AddLine(text);
}

void TMainForm::BringServerWindowToFront() { ChildFocus(kServerWindow); }

std::vector<std::string> TMainForm::OpenWindows() const {
  std::vector<std::string> names;
  for (TMDIChild* c : Children()) names.push_back(c->WindowName());
  return names;
}

void TMainForm::ConnectionChanged(ConnectionState state) { SetConnectionControls(state); }

void TMainForm::ConnectionClosed() {
  for (TMDIChild* c : registry_->ChannelWindows()) c->ClearNames();
  logs->flush();  // the session's lines are in the files when it ends
}

void TMainForm::NetworkChosen(const std::string& host) { logs->setNetwork(host); }

void TMainForm::ReconnectWaiting(bool waiting) {
  disconnectButton->setEnabled(waiting);
  UpdateMenuItems();
}

zorv::CertAnswer TMainForm::AskCertificate(const TSslPeer& peer) {
  return zorv::acceptCertificate(peer, SettingsFile());
}

ConnectTarget TMainForm::Target() const {
  const std::string server = zorv::fromInput(serverField->text());
  return {zorv::fromInput(nickField->text()), server, zorv::ServerFieldHost(server), zorv::fromInput(portField->text()),
          tlsBox->isChecked()};
}
