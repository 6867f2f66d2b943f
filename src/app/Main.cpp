#include "Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QHBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <utility>

#include "About.h"
#include "Channel.h"
#include "Childwin.h"
#include "ConnectionKeeper.h"
#include "Guard.h"
#include "HeaderBar.h"
#include "IconCache.h"
#include "CertificatePrompt.h"
#include "IniOut.h"
#include "IrcLink.h"
#include "Inbound.h"
#include "IrcLink.h"
#include "LinkStart.h"
#include "MessageBox.h"
#include "Names.h"
#include "NamesReply.h"
#include "Product.h"
#include "SettingsLocation.h"
#include "Text.h"
#include "WindowNames.h"
#include "WindowPlacement.h"
#include "WindowRegistry.h"
#include "ClientOptions.h"
#include "Formatting.h"
#include "ConnectionSettings.h"
#include "Logbook.h"

TMainForm* MainForm = nullptr;

namespace {

using zorv::kServerWindow;

std::string QuitLine() { return std::string("QUIT ") + zorv::kHomePage; }

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

  BuildSocket();
  engine_ = std::make_unique<InboundEngine>(*this);

  BuildToolbar();

  BuildFrame();
  BuildMenus();

  connect(MdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* w) {
    Guard([&] {
      if (w)
        if (auto* c = qobject_cast<TMDIChild*>(w->widget()); c && !c->IsClosing()) c->FormActivate();
      UpdateMenuItems();
      registry_->MarkActiveSection();
    });
  });

  // The menu states follow every change of the application's active window too
  // (the channel list or the about box coming and going).
  connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { Guard([&] { UpdateMenuItems(); }); });

  IniOut1 = new TIniOut(this);
  IniOut1->setObjectName("IniOut1");
  Placement = new WindowPlacement(this);
  registry_->FirstChildMaximized = [this] { return Placement->firstChildMaximized(); };
  Options = new ClientOptions(this);
  Connection = new ConnectionSettings(this);
  Logs = new Logbook(Logbook::defaultRoot(), this);
  Logs->setErrorHandler([this](const std::string& line) { AddText(kServerWindow, line, true); });
  ConnSettings = new KeepAliveSettings(this);
  Keeper = new ConnectionKeeper(*this, *ConnSettings);

  FormCreate();

  AboutBox = new TAboutBox(this);
  ChannelForm = new TChannelForm([this](const std::string& line) { SendMsg(line); });
  ChannelForm->setObjectName("ChannelForm");
}

TMainForm::~TMainForm() {
  FormDestroy();
  disconnect(qApp, nullptr, this, nullptr);
  // The conversation windows go while the main window is still whole.
  for (QMdiSubWindow* s : MdiArea->subWindowList()) delete s;
  delete ChannelForm;
  ChannelForm = nullptr;
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::BuildSocket() {
  CliWSocket = new TWSocket(this);
  CliWSocket->setObjectName("CliWSocket");
  CliWSocket->SetLingerOnOff(wsLingerOn);
  CliWSocket->SetLingerTimeout(0);
  CliWSocket->SetSendFlags(wsSendNormal);
  CliWSocket->SetMultiThreaded(false);
  CliWSocket->SetFlushTimeout(60);
  CliWSocket->OnDnsLookupDone = [this](TCustomWSocket* s, uint16_t e) { CliWSocketDnsLookupDone(s, e); };
  CliWSocket->OnSessionConnected = [this](TCustomWSocket* s, uint16_t e) { CliWSocketSessionConnected(s, e); };
  CliWSocket->OnSslError = [this](TCustomWSocket*, const std::string& m) { AddText(kServerWindow, m, true); };
  CliWSocket->OnSslVerify = [this](TCustomWSocket*, const TSslPeer& p, std::string& reason) {
    const zorv::CertAnswer answer = zorv::acceptCertificate(p, SettingsFile());
    reason = answer.reason;
    if (answer.refusedByUser) Keeper->CertificateRefused();
    return answer.accepted;
  };
  CliWSocket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) { CliWSocketSessionClosed(s, e); };
  CliWSocket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) { CliWSocketDataAvailable(s, e); };
}

// The frame area, the switcher bar under it and the status line; the window
// registry keeps the windows of the one and the sections of the other.
void TMainForm::BuildFrame() {
  MdiArea = new QMdiArea;
  MdiArea->setObjectName("MdiArea");
  MdiArea->setBackground(palette().brush(QPalette::Dark));
  MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  HeaderControl1 = new HeaderBar;
  HeaderControl1->setObjectName("HeaderControl1");
  HeaderControl1->setStatusTip("Switch to that window");
  HeaderControl1->setToolTip("Switch to that window");
  HeaderControl1->OnSectionClick = [this](int i) { Guard([&] { HeaderControl1SectionClick(i); }); };
  HeaderControl1->OnResize = [this] { EvenSectionWidths(); };
  HeaderControl1->hide();
  HeaderControl2 = new HeaderBar(this);
  HeaderControl2->setObjectName("HeaderControl2");
  HeaderControl2->hide();
  registry_ = std::make_unique<WindowRegistry>(MdiArea, HeaderControl1, HeaderControl2, *this,
                                               [this] { return TimeOfDayMs(); });

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(SpeedPanel);
  layout->addWidget(MdiArea, 1);
  layout->addWidget(HeaderControl1);
  setCentralWidget(central);

  StatusBar = new QStatusBar;
  StatusBar->setObjectName("StatusBar");
  StatusBar->setFixedHeight(19);
  StatusBar->setSizeGripEnabled(false);
  setStatusBar(StatusBar);
}

void TMainForm::BuildToolbar() {
  SpeedPanel = new QWidget;
  SpeedPanel->setObjectName("SpeedPanel");
  SpeedPanel->setFixedHeight(30);
  auto* row = new QHBoxLayout(SpeedPanel);
  row->setContentsMargins(4, 2, 4, 2);
  row->setSpacing(4);

  auto addEdit = [&](const char* name, const char* label, const char* text, const char* hint, int width) {
    auto* l = new QLabel(label);
    auto* e = new QLineEdit(text);
    e->setObjectName(name);
    e->setStatusTip(hint);
    e->setToolTip(hint);
    e->setFixedWidth(width);
    e->installEventFilter(this);
    l->setBuddy(e);
    row->addWidget(l);
    row->addWidget(e);
    return e;
  };
  EditNick = addEdit("EditNick", "Nick :", "YourNick", "Your IRC nickname", 90);
  // The own nick is asked for with every line that arrives: kept as bytes as it changes.
  ownNick_ = zorv::fromInput(EditNick->text());
  connect(EditNick, &QLineEdit::textChanged, this, [this](const QString& t) { ownNick_ = zorv::fromInput(t); });
  EditServer = addEdit("EditServer", "Server :", zorv::kDefaultServer, "IRC server that you want to connect", 130);
  EditPort = addEdit("EditPort", "Port :", "6667", "Port of IRC server (default is \"6667\")", 45);
  CheckTLS = new QCheckBox("TLS");
  CheckTLS->setObjectName("CheckTLS");
  CheckTLS->setStatusTip("Secure connection (TLS); port 6697 is the usual one");
  CheckTLS->setToolTip(CheckTLS->statusTip());
  row->addWidget(CheckTLS);
  // The box shows the stored TLS setting, which the connection settings
  // dialog edits too.
  connect(CheckTLS, &QCheckBox::toggled, this, [this](bool on) {
    if (Connection) Connection->tls = on;
  });
  // Typing the usual TLS port checks the box; the user may uncheck it again.
  // A check made that way goes again while the typing goes on past it (6697
  // on the way to 66970); one the user made stays.
  auto autoChecked = std::make_shared<bool>(false);
  connect(CheckTLS, &QCheckBox::clicked, this, [autoChecked] { *autoChecked = false; });
  connect(EditPort, &QLineEdit::textEdited, this, [this, autoChecked](const QString& t) {
    const bool tlsPort = t.trimmed() == QLatin1String(zorv::kTlsPort);
    if (tlsPort && !CheckTLS->isChecked()) {
      CheckTLS->setChecked(true);
      *autoChecked = true;
    } else if (!tlsPort && *autoChecked) {
      CheckTLS->setChecked(false);
      *autoChecked = false;
    }
  });

  auto addButton = [&](const char* name, const char* caption, const char* hint) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    if (hint) {
      b->setStatusTip(hint);
      b->setToolTip(hint);
    }
    b->setAutoDefault(false);
    row->addWidget(b);
    return b;
  };
  BtnConnect = addButton("BtnConnect", "&Connect", "Connect to server");
  BtnDisConnect = addButton("BtnDisConnect", "&Disconnect", "Disconnect from IRC server");
  BtnChannel = addButton("BtnChannel", "Channel List", nullptr);
  row->addStretch(1);
  connect(BtnConnect, &QPushButton::clicked, this, [this] { Guard([&] { BtnConnectClick(); }); });
  connect(BtnDisConnect, &QPushButton::clicked, this, [this] { Guard([&] { BtnDisConnectClick(); }); });
  connect(BtnChannel, &QPushButton::clicked, this, [this] { Guard([&] { BtnChannelClick(); }); });

  // The chat font travels between runs in the captions of two invisible labels.
  LabelFont = new QLabel("MS Sans Serif", this);
  LabelFont->setObjectName("LabelFont");
  LabelFont->hide();
  LabelSize = new QLabel("8", this);
  LabelSize->setObjectName("LabelSize");
  LabelSize->hide();
}

void TMainForm::BuildMenus() {
  auto item = [this](QMenu* menu, const char* name, const char* caption, const char* hint,
                     std::function<void()> action) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (hint) a->setStatusTip(hint);
    if (action) connect(a, &QAction::triggered, this, [this, action] { Guard(action); });
    return a;
  };
  auto menu = [this](const char* name, const char* caption, const char* hint) {
    QMenu* m = menuBar()->addMenu(caption);
    m->setObjectName(name);
    if (hint) m->menuAction()->setStatusTip(hint);
    return m;
  };

  File1 = menu("File1", "&File", "File related commands");
  ConnectItem = item(File1, "ConnectItem", "&Connect", "Connect to server...", [this] { ConnectItemClick(); });
  ConnectionSettingsItem = item(File1, "ConnectionSettingsItem", "Connection &settings...",
                                "Server password, SASL login and TLS", [this] { ConnectionSettingsItemClick(); });
  File1->addSeparator()->setObjectName("N2");
  ChannelList1 = item(File1, "ChannelList1", "Channel &List", nullptr, [this] { ChannelList1Click(); });
  File1->addSeparator()->setObjectName("N1");
  FileExitItem = item(File1, "FileExitItem", "E&xit", "Exit Zorv", [this] { FileExitItemClick(); });

  Edit1 = menu("Edit1", "&Edit", nullptr);
  CutItem = item(Edit1, "CutItem", "Cu&t", "Cut to clipboard", nullptr);
  CopyItem = item(Edit1, "CopyItem", "&Copy", "Copy to clipboard", [this] { CopyItemClick(); });
  PasteItem = item(Edit1, "PasteItem", "&Paste", "Paste from clipboard", nullptr);

  View1 = menu("View1", "&View", nullptr);
  TimestampsItem = item(View1, "TimestampsItem", "&Time stamps", "Show the time each new line arrived",
                        [this] { TimestampsItemClick(); });
  TimestampsItem->setCheckable(true);

  Window1 = menu("Window1", "&Window", "Window related commands such as Tile and Cascade");
  WindowCascadeItem = item(Window1, "WindowCascadeItem", "&Cascade", "Arrange windows to overlap",
                           [this] { WindowCascadeItemClick(); });
  WindowTileItem = item(Window1, "WindowTileItem", "&Tile", "Arrange windows without overlap",
                        [this] { WindowTileItemClick(); });
  WindowArrangeItem = item(Window1, "WindowArrangeItem", "&Arrange Icons",
                           "Arrange window icons at bottom of main window", [this] { WindowArrangeItemClick(); });
  WindowMinimizeItem = item(Window1, "WindowMinimizeItem", "&Minimize All", "Minimize all windows",
                            [this] { WindowMinimizeItemClick(); });
  connect(Window1, &QMenu::aboutToShow, this, [this] { RebuildWindowList(); });

  Help1 = menu("Help1", "&Help", "Help topics");
  HelpAboutItem = item(Help1, "HelpAboutItem", "&About", "About Zorv", [this] { HelpAboutItemClick(); });

  for (QAction* a : {CutItem, CopyItem, PasteItem, WindowCascadeItem, WindowTileItem, WindowArrangeItem,
                     WindowMinimizeItem})
    a->setEnabled(false);
}

void TMainForm::Guard(const std::function<void()>& action) { zorv::guarded(action, "Zorv"); }

// ---------------------------------------------------------------------------
// Program start and end

QString TMainForm::SettingsFile() const { return IniOut1 ? IniOut1->FileName() : QString(); }

void TMainForm::FormCreate() {
  // Hints reach the status line through the status tips of controls and menu
  // items; the active-window handler is connected in the constructor.
  zorv::ConfigureMainSettings(*IniOut1, zorv::SettingsDirectory(programDir_));
  IniOut1->setItems(IniOut1->Items() + WindowPlacement::settingsItems() + ClientOptions::settingsItems() +
                    KeepAliveSettings::settingsItems() + ConnectionSettings::settingsItems());
  IniOut1->LoadProperties();
  CheckTLS->setChecked(Connection->tls);
  TimestampsItem->setChecked(Options->timestamps);
  Placement->applyTo(*this);
  Logs->setEnabled(Options->logging);
  Logs->setNetwork(serverHost(EditServer));
}

void TMainForm::FormShow() { SetConnectionControls(ConnectionState::Idle); }

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  Keeper->UserDisconnect();
  Guard([&] {
    if (BtnDisConnect->isEnabled()) {
      SendMsg(QuitLine());
      if (CliWSocket->State() != wsClosed) CliWSocket->Close();
    }
  });
  event->accept();
  if (ChannelForm) ChannelForm->hide();
  if (AboutBox) AboutBox->hide();
  QCoreApplication::quit();
}

void TMainForm::FormDestroy() {
  if (destroying_) return;
  destroying_ = true;
  disconnect(MdiArea, nullptr, this, nullptr);
  Guard([&] {
    Placement->takeFrom(*this, *MdiArea);
    IniOut1->setPrivateFile(Connection->holdsPassword());  // passwords: the owner's eyes only
    // A settings file that cannot be written (an installed copy in a read-only
    // place) is said once, so the user's settings are not lost silently.
    if (!IniOut1->SaveProperties() && !IniOut1->LastError().isEmpty())
      zorv::showMessageBox(IniOut1->LastError(), "Zorv", zorv::MessageIcon::Warning);
  });
}

void TMainForm::FileExitItemClick() { close(); }

// ---------------------------------------------------------------------------
// Connection lifecycle

void TMainForm::SetConnectionControls(ConnectionState state) {
  const bool idle = state == ConnectionState::Idle;
  BtnConnect->setEnabled(idle);
  BtnDisConnect->setEnabled(!idle);
  BtnChannel->setEnabled(!idle);
  // The connection's settings can be changed until the connection is up.
  const bool fields = state != ConnectionState::Connected;
  for (QLineEdit* e : {EditServer, EditNick, EditPort}) e->setEnabled(fields);
}

void TMainForm::SendMsg(const std::string& line) {
  if (!IsConnected()) return;
  // A CR, LF or NUL inside the line would end it early and smuggle a second
  // command to the server: they are removed.
  std::string out = zorv::stripLineBreaks(line);
  Keeper->Sent(out);
  out += "\r\n";
  if (!Keeper->MaySend(CliWSocket->BufferedByteCount(), out.size())) return;
  CliWSocket->SendStr(out);
}

bool TMainForm::IsConnected() const { return CliWSocket->State() == wsConnected; }

void TMainForm::BtnConnectClick() { StartConnect(true); }

void TMainForm::ConnectAgain() { StartConnect(false); }

void TMainForm::StartConnect(bool byUser) {
  userConnect_ = byUser;
  if (byUser) Keeper->UserConnect();
  // Asked for again while connected (through the menu), the fields stay as
  // they are: the socket refuses the new address.
  SetConnectionControls(CliWSocket->State() == wsConnected ? ConnectionState::Connected
                                                           : ConnectionState::Connecting);
  Logs->setNetwork(serverHost(EditServer));
  CliWSocket->DnsLookup(serverHost(EditServer));
}

void TMainForm::ConnectItemClick() { BtnConnectClick(); }

void TMainForm::CliWSocketDnsLookupDone(TCustomWSocket*, uint16_t error) {
  if (error != 0) {
    AddText(kServerWindow, "Server name unknown", true);
    SetConnectionControls(CliWSocket->State() == wsConnected ? ConnectionState::Connected
                                                             : ConnectionState::Idle);
    Keeper->LookupFailed();
    return;
  }
  CliWSocket->SetAddr(CliWSocket->DnsResult());
  CliWSocket->SetPort(zorv::fromInput(fieldText(EditPort)));
  CliWSocket->SetProto("tcp");
  if (CliWSocket->State() == wsClosed) {
    CliWSocket->SetSslEnable(CheckTLS->isChecked());
    CliWSocket->SetSslServerName(serverHost(EditServer));
  }
  // A close with lingering on and a zero time-out resets the connection and can
  // lose the QUIT line sent just before it; the socket lets the system deliver
  // what was sent, then closes.
  if (CliWSocket->State() == wsClosed) CliWSocket->SetLingerOnOff(wsLingerOff);
  CliWSocket->Connect();
}

void TMainForm::CliWSocketSessionConnected(TCustomWSocket*, uint16_t error) {
  if (error == 10061) {
    AddText(kServerWindow, "No server available", true);
    return;
  }
  // A failed TLS handshake has said why already (OnSslError).
  if (error == TCustomSslWSocket::errTlsHandshake) return;
  if (error != 0) {
    AddText(kServerWindow, "Can't connect, error #" + std::to_string(error), true);
    return;
  }
  // A partial line and the registration state of an earlier connection
  // belong to nobody now.
  engine_->Reset();
  Keeper->Connected();
  AddText(kServerWindow, "Connected", true);
  SetConnectionControls(ConnectionState::Connected);
  // NICK and USER, after PASS and CAP LS when a login is configured.
  engine_->Register(zorv::fromInput(fieldText(EditNick)));
  // The user who pressed Connect watches the Server window; a reconnect
  // leaves the user where they are (perhaps typing).
  if (userConnect_) ChildFocus(kServerWindow);
}

void TMainForm::JoinWhenRegistered(const std::string& server, const std::string& port,
                                   std::vector<std::string> channels) {
  pendingJoins_ = {server, port, std::move(channels)};
}

void TMainForm::CliWSocketSessionClosed(TCustomWSocket*, uint16_t error) {
  for (TMDIChild* c : registry_->ChannelWindows()) c->resetnamelist();
  SetConnectionControls(ConnectionState::Idle);
  AddText(kServerWindow, "Disconnected", false);
  Logs->flush();  // the session's lines are in the files when it ends
  Keeper->Closed(error);
}

void TMainForm::CliWSocketDataAvailable(TCustomWSocket*, uint16_t) {
  Keeper->DataArrived();
  engine_->DataAvailable([this](char* buf, int room) { return CliWSocket->Receive(buf, room); });
}

void TMainForm::Registered() {
  Keeper->Registered(zorv::fromInput(fieldText(EditServer)), zorv::fromInput(fieldText(EditPort)));
  // Once only, and only on the server the link named: after a failed attempt,
  // a connection made by hand to another server joins nothing by itself.
  const PendingJoins joins = std::exchange(pendingJoins_, {});
  if (serverHost(EditServer) != joins.server || zorv::fromInput(fieldText(EditPort)) != joins.port)
    return;
  for (const std::string& channel : joins.channels) SendMsg("JOIN " + channel);
}

void TMainForm::BtnDisConnectClick() {
  Keeper->UserDisconnect();
  SendMsg(QuitLine());
  if (CliWSocket->State() != wsClosed) CliWSocket->Close();
}

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
  // The server's answer to our own lag check is not shown.
  if (!create && name == kServerWindow && Keeper->IsOwnPingReply(text)) return;
  registry_->AddText(name, text, create);
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
  Logs->close(name);
  registry_->RemoveSelectBar(name);
}

void TMainForm::HeaderControl1SectionClick(int index) { registry_->SectionClick(index); }

void TMainForm::UpdateMenuItems() {
  if (destroying_) return;
  const bool any = registry_->AnyOpen();
  for (QAction* a : {CutItem, CopyItem, PasteItem, WindowCascadeItem, WindowTileItem, WindowArrangeItem,
                     WindowMinimizeItem})
    a->setEnabled(any);
  ChannelList1->setEnabled(BtnDisConnect->isEnabled());
}
void TMainForm::RebuildWindowList() {
  for (QAction* a : windowListActions_) {
    Window1->removeAction(a);
    a->deleteLater();
  }
  windowListActions_.clear();
  const auto children = Children();
  if (children.empty()) return;
  windowListActions_.push_back(Window1->addSeparator());
  TMDIChild* active = ActiveChild();
  int n = 1;
  for (TMDIChild* c : children) {
    QString label = zorv::toDisplay(zorv::fmt::strip(c->Caption()));
    label.replace('&', "&&");
    if (n <= 9) label = QString("&%1 %2").arg(n).arg(label);
    QAction* a = Window1->addAction(label);
    a->setCheckable(true);
    a->setChecked(c == active);
    QPointer<TMDIChild> target(c);
    connect(a, &QAction::triggered, this, [this, target] {
      if (target && !target->IsClosing()) ChildFocus(target->WindowName());
    });
    windowListActions_.push_back(a);
    ++n;
  }
}

void TMainForm::WindowCascadeItemClick() { MdiArea->cascadeSubWindows(); }

void TMainForm::WindowTileItemClick() {
  // One above another, each as wide as the frame.
  std::vector<QMdiSubWindow*> subs;
  for (TMDIChild* c : Children())
    if (auto* s = qobject_cast<QMdiSubWindow*>(c->parentWidget()); s && !s->isMinimized()) subs.push_back(s);
  if (subs.empty()) return;
  const QSize area = MdiArea->viewport()->size();
  const int h = area.height() / static_cast<int>(subs.size());
  int y = 0;
  for (QMdiSubWindow* s : subs) {
    if (s->isMaximized()) s->showNormal();
    s->setGeometry(0, y, area.width(), h);
    y += h;
  }
}

void TMainForm::WindowArrangeItemClick() {
  // Minimised windows line up along the bottom of the frame.
  const QSize area = MdiArea->viewport()->size();
  int x = 0;
  int row = 0;
  for (TMDIChild* c : Children()) {
    auto* s = qobject_cast<QMdiSubWindow*>(c->parentWidget());
    if (!s || !s->isMinimized()) continue;
    const QSize sz = s->size();
    if (x > 0 && x + sz.width() > area.width()) {
      x = 0;
      ++row;
    }
    s->move(x, area.height() - (row + 1) * sz.height());
    x += sz.width();
  }
}

void TMainForm::WindowMinimizeItemClick() {
  const auto children = Children();
  for (auto it = children.rbegin(); it != children.rend(); ++it)
    if (auto* s = qobject_cast<QMdiSubWindow*>((*it)->parentWidget())) s->showMinimized();
}

void TMainForm::HelpAboutItemClick() { AboutBox->exec(); }

void TMainForm::BtnChannelClick() { ChannelForm->OpenList(); }

void TMainForm::ChannelList1Click() { ChannelForm->OpenList(); }

// ---------------------------------------------------------------------------
// Channel operations

void TMainForm::FillNames(const std::string& p) { ForNamesReply(p, false); }

void TMainForm::EndNames(const std::string& p) { ForNamesReply(p, true); }

void TMainForm::ForNamesReply(const std::string& p, bool end) {
  std::string channel, names;
  if (!zorv::NamesReplyChannel(p, &channel, &names)) return;
  // Only a window whose listing is still open takes the names, or its end.
  for (TMDIChild* c : registry_->Matching(channel)) {
    if (!c->nameliststatus()) continue;
    if (end)
      c->togglenamelist();
    else
      c->setnamelist(names);
  }
}

void TMainForm::AddNick(const std::string& channel, const std::string& nick) {
  for (TMDIChild* c : registry_->Matching(channel)) c->addnamelist(nick);
}

void TMainForm::DelNick(const std::string& channel, const std::string& nick) {
  for (TMDIChild* c : registry_->Matching(channel)) c->delnamelist(nick, std::string());
}

void TMainForm::QuitNick(const std::string& nick, const std::string& text) {
  for (TMDIChild* c : registry_->ChannelWindows()) c->delnamelist(nick, text);
}

void TMainForm::ChangeNick(const std::string& oldNick, const std::string& newNick) {
  for (TMDIChild* c : registry_->ChannelWindows()) c->changenamelist(oldNick, newNick);
  registry_->RenamePrivate(oldNick, newNick);
}

void TMainForm::ModeNick(const std::string& channel, const std::string& nick, bool give) {
  for (TMDIChild* c : registry_->Matching(channel)) c->modenamelist(nick, give);
}

void TMainForm::ResetNames(const std::string& channel) {
  for (TMDIChild* c : registry_->Matching(channel)) c->resetnamelist();
}

// ---------------------------------------------------------------------------
// Frame and ChildHost plumbing

std::string TMainForm::OwnNick() const { return ownNick_; }

void TMainForm::SetOwnNick(const std::string& nick) { EditNick->setText(zorv::toDisplay(nick)); }

void TMainForm::ChannelListStart() { ChannelForm->ListStart(); }

void TMainForm::AddChannelRow(const std::string& p) { ChannelForm->AddChannelRow(p); }

void TMainForm::ChannelListEnd() { ChannelForm->ListEnd(); }

void TMainForm::Alert() { QApplication::beep(); }

int TMainForm::TimeOfDayMs() const { return QTime::currentTime().msecsSinceStartOfDay(); }

std::string TMainForm::LocalShortDate() const {
  return zorv::fromInput(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
}

std::string TMainForm::LocalLongTime() const {
  return zorv::fromInput(QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat));
}

bool TMainForm::IsActiveChild(const TMDIChild* child) const { return child && ActiveChild() == child; }

QString TMainForm::ChatFontName() const { return LabelFont->text(); }

QString TMainForm::ChatFontSize() const { return LabelSize->text(); }

void TMainForm::LogLine(const std::string& window, const std::string& text) { Logs->append(window, text); }

void TMainForm::CommandTyped(const std::string& window) { lastCommand_ = {window, TimeOfDayMs()}; }

bool TMainForm::HasWindow(const std::string& name) const { return ChildExist(name); }

std::string TMainForm::ActiveWindow() const {
  const TMDIChild* active = ActiveChild();
  return active ? active->WindowName() : std::string();
}

int TMainForm::ScrollbackLines() const { return Options->scrollbackLines; }

bool TMainForm::ChatWordWrap() const { return Options->wordWrap; }

bool TMainForm::ChatTimestamps() const { return Options->timestamps; }

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
  const bool busy = BtnDisConnect->isEnabled();
  const std::string server = zorv::fromInput(fieldText(EditServer));
  if (CliWSocket->State() == wsConnected && zorv::equalsIgnoreAsciiCase(l.host, server) &&
      l.port == zorv::fromInput(fieldText(EditPort))) {
    for (const std::string& channel : l.channels) SendMsg("JOIN " + channel);
    return;
  }
  const QString there = QString::fromLatin1(l.host + ":" + l.port);
  const QString question = busy ? QString("Disconnect from %1 and connect to %2?").arg(fieldText(EditServer), there)
                                : QString("Connect to %1?").arg(there);
  if (!zorv::askQuestion(question, "Zorv")) return;
  if (busy) BtnDisConnectClick();
  zorv::OpenLink(*this, link);
}

std::vector<std::string> TMainForm::ChannelNames() const {
  std::vector<std::string> names;
  for (TMDIChild* c : registry_->ChannelWindows()) names.push_back(c->WindowName());
  return names;
}

void TMainForm::TimestampsItemClick() {
  Options->timestamps = TimestampsItem->isChecked();
  for (TMDIChild* c : Children()) c->Memo1->setTimestamps(Options->timestamps);
}

void TMainForm::CopyItemClick() {
  if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
    edit->copy();
    return;
  }
  if (TMDIChild* c = ActiveChild()) c->Memo1->copy();
}
