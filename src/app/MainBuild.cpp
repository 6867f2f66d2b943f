// The main window's widgets: the toolbar with the connection fields and
// buttons, the frame with the switcher bar and the status line, the menus.
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <memory>

#include "CertificatePrompt.h"
#include "ConnectionSettings.h"
#include "HeaderBar.h"
#include "IniOut.h"
#include "Main.h"
#include "Text.h"
#include "WindowRegistry.h"

// The frame area, the switcher bar under it and the status line; the window
// registry keeps the windows of the one and the sections of the other.
void TMainForm::BuildFrame() {
  windowArea = new QMdiArea;
  windowArea->setObjectName("MdiArea");
  windowArea->setBackground(palette().brush(QPalette::Dark));
  windowArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  windowArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  tabBar = new HeaderBar;
  tabBar->setObjectName("HeaderControl1");
  tabBar->setStatusTip("Switch to that window");
  tabBar->setToolTip("Switch to that window");
  tabBar->OnSectionClick = [this](int i) { Guard([&] { OnTabClicked(i); }); };
  tabBar->OnResize = [this] { EvenSectionWidths(); };
  tabBar->hide();
  scratchTabBar = new HeaderBar(this);
  scratchTabBar->setObjectName("HeaderControl2");
  scratchTabBar->hide();
  registry_ = std::make_unique<WindowRegistry>(windowArea, tabBar, scratchTabBar, *this,
                                               [this] { return TimeOfDayMs(); });

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolbar);
  layout->addWidget(windowArea, 1);
  layout->addWidget(tabBar);
  setCentralWidget(central);

  statusLine = new QStatusBar;
  statusLine->setObjectName("StatusBar");
  statusLine->setFixedHeight(19);
  statusLine->setSizeGripEnabled(false);
  setStatusBar(statusLine);
}

void TMainForm::BuildToolbar() {
  toolbar = new QWidget;
  toolbar->setObjectName("SpeedPanel");
  toolbar->setFixedHeight(30);
  auto* row = new QHBoxLayout(toolbar);
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
  nickField = addEdit("EditNick", "Nick :", "YourNick", "Your IRC nickname", 90);
  // The own nick is asked for with every line that arrives: kept as bytes as it changes.
  ownNick_ = zorv::fromInput(nickField->text());
  connect(nickField, &QLineEdit::textChanged, this, [this](const QString& t) { ownNick_ = zorv::fromInput(t); });
  serverField = addEdit("EditServer", "Server :", zorv::kDefaultServer, "IRC server that you want to connect", 130);
  portField = addEdit("EditPort", "Port :", "6667", "Port of IRC server (default is \"6667\")", 45);
  BuildTlsBox(*row);

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
  connectButton = addButton("BtnConnect", "&Connect", "Connect to server");
  disconnectButton = addButton("BtnDisConnect", "&Disconnect", "Disconnect from IRC server");
  channelListButton = addButton("BtnChannel", "Channel List", nullptr);
  row->addStretch(1);
  connect(connectButton, &QPushButton::clicked, this, [this] { Guard([&] { OnConnectClicked(); }); });
  connect(disconnectButton, &QPushButton::clicked, this, [this] { Guard([&] { OnDisconnectClicked(); }); });
  connect(channelListButton, &QPushButton::clicked, this, [this] { Guard([&] { OnChannelListClicked(); }); });

  // The chat font travels between runs in the captions of two invisible labels.
  chatFontLabel = new QLabel("MS Sans Serif", this);
  chatFontLabel->setObjectName("LabelFont");
  chatFontLabel->hide();
  chatSizeLabel = new QLabel("8", this);
  chatSizeLabel->setObjectName("LabelSize");
  chatSizeLabel->hide();
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

  fileMenu = menu("File1", "&File", "File related commands");
  connectItem = item(fileMenu, "ConnectItem", "&Connect", "Connect to server...", [this] { OnConnectClicked(); });
  connectionSettingsItem = item(fileMenu, "ConnectionSettingsItem", "Connection &settings...",
                                "Server password, SASL login and TLS", [this] { OnConnectionSettingsClicked(); });
  fileMenu->addSeparator()->setObjectName("N2");
  channelListItem = item(fileMenu, "ChannelList1", "Channel &List", nullptr, [this] { OnChannelListClicked(); });
  fileMenu->addSeparator()->setObjectName("N1");
  exitItem = item(fileMenu, "FileExitItem", "E&xit", "Exit Zorv", [this] { OnExitClicked(); });

  editMenu = menu("Edit1", "&Edit", nullptr);
  cutItem = item(editMenu, "CutItem", "Cu&t", "Cut to clipboard", nullptr);
  copyItem = item(editMenu, "CopyItem", "&Copy", "Copy to clipboard", [this] { OnCopyClicked(); });
  pasteItem = item(editMenu, "PasteItem", "&Paste", "Paste from clipboard", nullptr);

  viewMenu = menu("View1", "&View", nullptr);
  timestampsItem = item(viewMenu, "TimestampsItem", "&Time stamps", "Show the time each new line arrived",
                        [this] { OnTimestampsClicked(); });
  timestampsItem->setCheckable(true);

  windowMenu = menu("Window1", "&Window", "Window related commands such as Tile and Cascade");
  cascadeItem = item(windowMenu, "WindowCascadeItem", "&Cascade", "Arrange windows to overlap",
                           [this] { OnCascadeClicked(); });
  tileItem = item(windowMenu, "WindowTileItem", "&Tile", "Arrange windows without overlap",
                        [this] { OnTileClicked(); });
  arrangeIconsItem = item(windowMenu, "WindowArrangeItem", "&Arrange Icons",
                           "Arrange window icons at bottom of main window", [this] { OnArrangeIconsClicked(); });
  minimizeAllItem = item(windowMenu, "WindowMinimizeItem", "&Minimize All", "Minimize all windows",
                            [this] { OnMinimizeAllClicked(); });
  connect(windowMenu, &QMenu::aboutToShow, this, [this] { RebuildWindowList(); });

  helpMenu = menu("Help1", "&Help", "Help topics");
  aboutItem = item(helpMenu, "HelpAboutItem", "&About", "About Zorv", [this] { OnAboutClicked(); });

  for (QAction* a : {cutItem, copyItem, pasteItem, cascadeItem, tileItem, arrangeIconsItem,
                     minimizeAllItem})
    a->setEnabled(false);
}

// The TLS box beside the Port field, and how typing the port checks it.
void TMainForm::BuildTlsBox(QHBoxLayout& row) {
  tlsBox = new QCheckBox("TLS");
  tlsBox->setObjectName("CheckTLS");
  tlsBox->setStatusTip("Secure connection (TLS); port 6697 is the usual one");
  tlsBox->setToolTip(tlsBox->statusTip());
  row.addWidget(tlsBox);
  // The box shows the stored TLS setting, which the connection settings
  // dialog edits too.
  connect(tlsBox, &QCheckBox::toggled, this, [this](bool on) {
    if (connectionSettings) connectionSettings->tls = on;
  });
  // Typing the usual TLS port checks the box; the user may uncheck it again.
  // A check made that way goes again while the typing goes on past it (6697
  // on the way to 66970); one the user made stays.
  auto autoChecked = std::make_shared<bool>(false);
  connect(tlsBox, &QCheckBox::clicked, this, [autoChecked] { *autoChecked = false; });
  connect(portField, &QLineEdit::textEdited, this, [this, autoChecked](const QString& t) {
    const bool tlsPort = t.trimmed() == QLatin1String(zorv::kTlsPort);
    if (tlsPort && !tlsBox->isChecked()) {
      tlsBox->setChecked(true);
      *autoChecked = true;
    } else if (!tlsPort && *autoChecked) {
      tlsBox->setChecked(false);
      *autoChecked = false;
    }
  });
}
