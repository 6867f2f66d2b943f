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
