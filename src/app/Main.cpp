#include "Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <utility>

#include "About.h"
#include "Caps.h"
#include "Channel.h"
#include "CertificatePrompt.h"
#include "Childwin.h"
#include "ClientOptions.h"
#include "ConnectionKeeper.h"
#include "ConnectionSettings.h"
#include "Guard.h"
#include "HeaderBar.h"
#include "IconCache.h"
#include "IniOut.h"
#include "IrcLink.h"
#include "Logbook.h"
#include "MessageBox.h"
#include "Names.h"
#include "Product.h"
#include "Session.h"
#include "SettingsLocation.h"
#include "Text.h"
#include "WindowNames.h"
#include "WindowPlacement.h"
#include "WindowRegistry.h"

TMainForm* MainForm = nullptr;

namespace {

using zorv::kServerWindow;

QString fieldText(const QLineEdit* e) { return e->text(); }
// The host the Server field names ("[::1]" is "::1").
std::string serverHost(const QLineEdit* e) { return zorv::ServerFieldHost(zorv::fromInput(fieldText(e))); }

}  // namespace

TMainForm::TMainForm(const QString& programDir, QWidget* parent)
    : QMainWindow(parent),
      programDir_(programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir) {
  MainForm = this;
  IconCachingStyle::install();
  setObjectName("MainForm");
  setWindowTitle("Zorv " + QString::fromLatin1(zorv::kProductVersion));
  setGeometry(3, 54, 636, 398);
  QFont f("MS Sans Serif");
  f.setPointSize(8);
  setFont(f);

  session = new Session(*this, this);

  BuildToolbar();

  BuildFrame();
  BuildMenus();

  connect(windowArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* w) {
    Guard([&] {
      if (w)
        if (auto* c = qobject_cast<TMDIChild*>(w->widget()); c && !c->IsClosing()) c->OnActivated();
      UpdateMenuItems();
      registry_->MarkActiveSection();
    });
  });

  // The menu states follow every change of the application's active window too
  // (the channel list or the about box coming and going).
  connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { Guard([&] { UpdateMenuItems(); }); });

  settings = new TIniOut(this);
  settings->setObjectName("IniOut1");
  placement = new WindowPlacement(this);
  registry_->FirstChildMaximized = [this] { return placement->firstChildMaximized(); };
  options = new ClientOptions(this);
  connectionSettings = new ConnectionSettings(this);
  logs = new Logbook(Logbook::defaultRoot(), this);
  logs->setErrorHandler([this](const std::string& line) { AddText(kServerWindow, line, true); });

  LoadSettings();

  aboutBox = new TAboutBox(this);
  channelList = new TChannelForm([this](const std::string& line) { SendMsg(line); });
  channelList->setObjectName("ChannelForm");
}

TMainForm::~TMainForm() {
  SaveSettings();
  disconnect(qApp, nullptr, this, nullptr);
  // The conversation windows go while the main window is still whole.
  for (QMdiSubWindow* s : windowArea->subWindowList()) delete s;
  delete channelList;
  channelList = nullptr;
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::Guard(const std::function<void()>& action) { zorv::guarded(action, "Zorv"); }

// ---------------------------------------------------------------------------
// Program start and end

QString TMainForm::SettingsFile() const { return settings ? settings->FileName() : QString(); }

void TMainForm::LoadSettings() {
  // Hints reach the status line through the status tips of controls and menu
  // items; the active-window handler is connected in the constructor.
  zorv::ConfigureMainSettings(*settings, zorv::SettingsDirectory(programDir_));
  settings->setItems(settings->Items() + WindowPlacement::settingsItems() + ClientOptions::settingsItems() +
                    KeepAliveSettings::settingsItems() + ConnectionSettings::settingsItems());
  settings->LoadProperties();
  tlsBox->setChecked(connectionSettings->tls);
  timestampsItem->setChecked(options->timestamps);
  placement->applyTo(*this);
  logs->setEnabled(options->logging);
  logs->setNetwork(serverHost(serverField));
}

void TMainForm::OnFirstShow() { SetConnectionControls(ConnectionState::Idle); }

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    OnFirstShow();
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  session->CallOffReconnect();
  Guard([&] {
    if (disconnectButton->isEnabled()) session->Disconnect();
  });
  event->accept();
  if (channelList) channelList->hide();
  if (aboutBox) aboutBox->hide();
  QCoreApplication::quit();
}

void TMainForm::SaveSettings() {
  if (destroying_) return;
  destroying_ = true;
  disconnect(windowArea, nullptr, this, nullptr);
  Guard([&] {
    placement->takeFrom(*this, *windowArea);
    settings->setPrivateFile(connectionSettings->holdsPassword());  // passwords: the owner's eyes only
    // A settings file that cannot be written (an installed copy in a read-only
    // place) is said once, so the user's settings are not lost silently.
    if (!settings->SaveProperties() && !settings->LastError().isEmpty())
      zorv::showMessageBox(settings->LastError(), "Zorv", zorv::MessageIcon::Warning);
  });
}

void TMainForm::OnExitClicked() { close(); }

// ---------------------------------------------------------------------------
// Connection lifecycle

void TMainForm::SetConnectionControls(ConnectionState state) {
  const bool idle = state == ConnectionState::Idle;
  connectButton->setEnabled(idle);
  disconnectButton->setEnabled(!idle);
  channelListButton->setEnabled(!idle);
  // The connection's settings can be changed until the connection is up.
  const bool fields = state != ConnectionState::Connected;
  for (QLineEdit* e : {serverField, nickField, portField}) e->setEnabled(fields);
}

void TMainForm::SendMsg(const std::string& line) { session->SendMsg(line); }

bool TMainForm::IsConnected() const { return session->IsConnected(); }

void TMainForm::OnConnectClicked() { session->Connect(); }

void TMainForm::OnDisconnectClicked() { Disconnect(); }

void TMainForm::Disconnect() { session->Disconnect(); }

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  // An empty Nick, Server or Port field cannot be left: the focus goes back.
  if (event->type() == QEvent::FocusOut) {
    auto* edit = qobject_cast<QLineEdit*>(watched);
    auto* fe = static_cast<QFocusEvent*>(event);
    const bool userMove = fe->reason() == Qt::TabFocusReason || fe->reason() == Qt::BacktabFocusReason ||
                          fe->reason() == Qt::MouseFocusReason || fe->reason() == Qt::ShortcutFocusReason;
    if (edit && userMove && edit->isEnabled() && edit->text().isEmpty()) {
      QPointer<QLineEdit> guard(edit);
      QTimer::singleShot(0, this, [guard] {
        if (guard) guard->setFocus(Qt::OtherFocusReason);
      });
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Window registry

std::string TMainForm::LeftStr(const std::string& s) { return zorv::LeftStr(s); }

std::vector<TMDIChild*> TMainForm::Children() const { return registry_->Children(); }

TMDIChild* TMainForm::ActiveChild() const { return registry_->ActiveChild(); }

void TMainForm::AddText(const std::string& name, const std::string& text, bool create) {
  session->AddText(name, text, create);
}

void TMainForm::NewChild(const std::string& name) { registry_->NewChild(name); }

bool TMainForm::ChildExist(const std::string& name) const { return !registry_->Matching(name).empty(); }

void TMainForm::ChildFocus(const std::string& name) { registry_->ChildFocus(name); }

void TMainForm::CloseChild(const std::string& name) { registry_->CloseChild(name); }

void TMainForm::SetTopic(const std::string& name, const std::string& text, bool wholeCaption) {
  registry_->SetTopic(name, text, wholeCaption);
}

// ---------------------------------------------------------------------------
// Switcher bar and menus

void TMainForm::EvenSectionWidths() { registry_->EvenSectionWidths(); }

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The bar takes the frame's new width from the layout and evens its
  // sections then (HeaderBar::OnResize); this makes it happen at once.
  if (centralWidget()) centralWidget()->layout()->activate();
  EvenSectionWidths();
}

void TMainForm::RemoveSelectBar(const std::string& name) {
  // A closing window takes its tab away; its log is written and closed too.
  logs->close(name);
  registry_->RemoveSelectBar(name);
}

void TMainForm::OnTabClicked(int index) { registry_->SectionClick(index); }

void TMainForm::UpdateMenuItems() {
  if (destroying_) return;
  const bool any = registry_->AnyOpen();
  for (QAction* a : {cutItem, copyItem, pasteItem, cascadeItem, tileItem, arrangeIconsItem,
                     minimizeAllItem})
    a->setEnabled(any);
  channelListItem->setEnabled(disconnectButton->isEnabled());
}
void TMainForm::OnAboutClicked() { aboutBox->exec(); }

void TMainForm::OnChannelListClicked() { channelList->OpenList(); }

// ---------------------------------------------------------------------------
// Frame and ChildHost plumbing

int TMainForm::TimeOfDayMs() const { return session->TimeOfDayMs(); }

int TMainForm::LineTimeOfDayMs() const {
  // While a line said earlier is shown (server-time), its own time.
  if (saidAt_ > 0) return QDateTime::fromMSecsSinceEpoch(saidAt_).time().msecsSinceStartOfDay();
  return TimeOfDayMs();
}

bool TMainForm::IsActiveChild(const TMDIChild* child) const { return child && ActiveChild() == child; }

QString TMainForm::ChatFontName() const { return chatFontLabel->text(); }

QString TMainForm::ChatFontSize() const { return chatSizeLabel->text(); }

void TMainForm::LogLine(const std::string& window, const std::string& text) { logs->append(window, text); }

void TMainForm::CommandTyped(const std::string& window) { session->CommandTyped(window); }

int TMainForm::ScrollbackLines() const { return options->scrollbackLines; }

bool TMainForm::ChatWordWrap() const { return options->wordWrap; }

bool TMainForm::ChatTimestamps() const { return options->timestamps; }

bool TMainForm::ServerEchoes() const { return (session->Capabilities() & zorv::kEchoMessage) != 0; }

void TMainForm::NeedsAttention(const TMDIChild* child, bool mention) {
  if (mention && !IsActiveChild(child)) registry_->SetMention(child->WindowName(), true);
  // The taskbar entry asks for the user's attention while Zorv is behind.
  if (QGuiApplication::applicationState() != Qt::ApplicationActive) QApplication::alert(this);
}

void TMainForm::MentionsSeen(const std::string& name) { registry_->SetMention(name, false); }

void TMainForm::OpenIrcLink(const std::string& link) {
  const IrcLinkParse parsed = zorv::ParseIrcLink(link);
  if (!parsed.ok) {
    AddText(kServerWindow, "*** Cannot open the link: " + parsed.error, true);
    return;
  }
  const IrcLink& l = parsed.link;
  const bool busy = disconnectButton->isEnabled();
  const std::string server = zorv::fromInput(fieldText(serverField));
  if (IsConnected() && zorv::equalsIgnoreAsciiCase(l.host, server) &&
      l.port == zorv::fromInput(fieldText(portField))) {
    for (const std::string& channel : l.channels) SendMsg("JOIN " + channel);
    return;
  }
  const QString there = QString::fromLatin1(l.host + ":" + l.port);
  const QString question = busy ? QString("Disconnect from %1 and connect to %2?").arg(fieldText(serverField), there)
                                : QString("Connect to %1?").arg(there);
  if (!zorv::askQuestion(question, "Zorv")) return;
  if (busy) OnDisconnectClicked();
  ConnectToLink(link);
}

std::vector<std::string> TMainForm::ChannelNames() const {
  std::vector<std::string> names;
  for (TMDIChild* c : registry_->ChannelWindows()) names.push_back(c->WindowName());
  return names;
}

void TMainForm::OnTimestampsClicked() {
  options->timestamps = timestampsItem->isChecked();
  for (TMDIChild* c : Children()) c->textPane->setTimestamps(options->timestamps);
}

void TMainForm::OnCopyClicked() {
  if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
    edit->copy();
    return;
  }
  if (TMDIChild* c = ActiveChild()) c->textPane->copy();
}

void TMainForm::ConnectToLink(const std::string& link) {
  const IrcLinkParse parsed = zorv::ParseIrcLink(link);
  if (!parsed.ok) {
    AddText(kServerWindow, "*** Cannot open the link: " + parsed.error, true);
    return;
  }
  const IrcLink& l = parsed.link;
  serverField->setText(QString::fromLatin1(l.host));
  portField->setText(QString::fromLatin1(l.port));
  tlsBox->setChecked(l.secure);
  session->JoinWhenRegistered(l.host, l.port, l.channels);
  OnConnectClicked();
}
