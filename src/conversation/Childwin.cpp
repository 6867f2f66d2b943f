#include "Childwin.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <cstring>
#include <functional>
#include <map>

#include "Formatting.h"
#include "Guard.h"
#include "Interpreter.h"
#include "MessageBox.h"
#include "Names.h"
#include "Text.h"
#include "WindowNames.h"

namespace {

constexpr char kCtcp = '\x01';
constexpr int kDefaultFontSize = 8;
// Larger sizes come only from a damaged settings file; glyphs that big would
// make every paint of the pane crawl.
constexpr int kLargestFontSize = 200;
constexpr int kBackgroundLineLimit = 300;
constexpr int kOpBatch = 4;

// The channel mode menu, item by item: where the item sits (the captions of
// its submenus and its own, separated by "/"; a separator has an empty
// caption), what kind of item it is, and its text, in which kChannelMark
// stands for the channel. A Send item sends its text; a Prepare item puts it
// into the input line for the user to complete; Part leaves the channel.
constexpr const char* kChannelMark = "{channel}";
enum class ChannelMenuKind { Send, Prepare, Part, Separator };
struct ChannelMenuItem {
  const char* path;
  ChannelMenuKind kind;
  const char* text;
};
using K = ChannelMenuKind;
constexpr ChannelMenuItem kChannelMenu[] = {
    {"&Channel Topic", K::Prepare, "/TOPIC {channel}  "},
    {"Show &Ban list", K::Send, "MODE {channel} +b"},
    {"", K::Separator, ""},
    {"&Part Channel", K::Part, ""},
    {"", K::Separator, ""},
    {"&External message/&Not allow", K::Send, "MODE {channel} +n"},
    {"&External message/&Allow", K::Send, "MODE {channel} -n"},
    {"Channel &Topic mode/&Moderated", K::Send, "MODE {channel} +t"},
    {"Channel &Topic mode/&Unmoderated", K::Send, "MODE {channel} -t"},
    {"Channel &Security/&Invite only", K::Send, "MODE {channel} +i"},
    {"Channel &Security/&Anyone can join", K::Send, "MODE {channel} -i"},
    {"Channel &Security/", K::Separator, ""},
    {"Channel &Security/&Private (obsolate)", K::Send, "MODE {channel} +p"},
    {"Channel &Security/P&ublic", K::Send, "MODE {channel} -p"},
    {"Channel &Security/", K::Separator, ""},
    {"Channel &Security/&Secret", K::Send, "MODE {channel} +s"},
    {"Channel &Security/&non-Secret", K::Send, "MODE {channel} -s"},
    {"Channel &Discussion mode/&Moderated", K::Send, "MODE {channel} +m"},
    {"Channel &Discussion mode/&Unmoderated", K::Send, "MODE {channel} -m"},
    {"", K::Separator, ""},
    {"Channel &Key/&Set", K::Prepare, "/MODE {channel} +k  "},
    {"Channel &Key/&Unset", K::Prepare, "/MODE {channel} -k  "},
    {"Channel si&ze/&Limited/5 persons", K::Send, "MODE {channel} +l 5"},
    {"Channel si&ze/&Limited/10 persons", K::Send, "MODE {channel} +l 10"},
    {"Channel si&ze/&Limited/15 persons", K::Send, "MODE {channel} +l 15"},
    {"Channel si&ze/&Limited/20 persons", K::Send, "MODE {channel} +l 20"},
    {"Channel si&ze/&Limited/30 persons", K::Send, "MODE {channel} +l 30"},
    {"Channel si&ze/&Limited/40 persons", K::Send, "MODE {channel} +l 40"},
    {"Channel si&ze/&Limited/50 persons", K::Send, "MODE {channel} +l 50"},
    {"Channel si&ze/&Limited/&Custom", K::Prepare, "/MODE {channel} +l  "},
    {"Channel si&ze/&Unlimited", K::Send, "MODE {channel} -l"},
};

// Every entry from Qt into the window's code goes through the shared guard:
// an error is shown to the user and the program goes on.
using zorv::guarded;

// A font size that cannot be used is reported once per distinct text, not
// for every window that opens (windows also open for incoming messages).
void reportBadFontSize(const QString& text, bool isNumber) {
  static QString reported;
  static bool any = false;
  if (any && reported == text) return;
  any = true;
  reported = text;
  zorv::showMessageBox(isNumber ? QStringLiteral("'%1' is not a usable font size; 8 is used").arg(text)
                                : QStringLiteral("'%1' is not a valid integer value").arg(text));
}

// Qt reads "[*]" in a window title as the modified-state placeholder; a
// doubled one is shown as the literal text.
QString titleText(const std::string& caption) {
  QString title = zorv::toDisplay(zorv::fmt::strip(caption));
  title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  return title;
}

QColor silver() { return QColor::fromRgb(zorv::fmt::kChatBackground); }

// A key that types a character: printable text, without Ctrl, Alt or Meta
// (Ctrl+C and the like stay commands). Ctrl+Alt together is AltGr on some
// systems, which types characters too.
bool isTyping(const QKeyEvent& event) {
  const QString text = event.text();
  if (text.isEmpty() || !text.at(0).isPrint()) return false;
  const Qt::KeyboardModifiers mods =
      event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  return mods == Qt::NoModifier || mods == (Qt::ControlModifier | Qt::AltModifier);
}

zorv::UrlOpener& urlOpener() {
  static zorv::UrlOpener opener;
  return opener;
}

}  // namespace

zorv::UrlOpener zorv::setUrlOpener(UrlOpener opener) { return std::exchange(urlOpener(), std::move(opener)); }

TMDIChild::TMDIChild(ChildHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  BuildControls();
  resize(512, 315);
  ApplyChatSettings();
}

TMDIChild::~TMDIChild() = default;

// The text pane and the nick list side by side above the input line; each is
// built by a function of its own, then laid out with the window's close key.
void TMDIChild::BuildControls() {
  BuildTextPane();
  BuildNickList();
  BuildInputLine();
  BuildLayout();
}

void TMDIChild::BuildTextPane() {
  textPane = new TextPane(this);
  textPane->setObjectName(QStringLiteral("Memo1"));
  textPane->setContextMenuPolicy(Qt::CustomContextMenu);
  textPane->installEventFilter(this);
  connect(textPane, &TextPane::changed, this, [this] { guarded([this] { OnTextChanged(); }); });
  connect(textPane, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    // Over selected text the menu copies it; elsewhere a channel window
    // shows its channel menu.
    if (textPane->selectionContains(pos)) {
      if (!copyMenu) {
        copyMenu = new QMenu(this);
        copyMenu->setObjectName(QStringLiteral("CopyMenu"));
        QAction* copy = copyMenu->addAction(QStringLiteral("&Copy"));
        copy->setObjectName(QStringLiteral("CopyText1"));
        connect(copy, &QAction::triggered, this, [this] { textPane->copy(); });
      }
      copyMenu->popup(textPane->viewport()->mapToGlobal(pos));
      return;
    }
    if (!channelMenuOn_) return;
    EnsureMenus();
    channelMenu->popup(textPane->viewport()->mapToGlobal(pos));
  });
  textPane->OnLink = [this](const TextPane::Link& link) { guarded([&] { OnLinkClicked(link); }); };
}

void TMDIChild::BuildNickList() {
  nickModel_ = new NickListModel(this);
  nickList = new QListView(this);
  nickList->setObjectName(QStringLiteral("ListBox1"));
  nickList->setModel(nickModel_);
  nickList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  nickList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  nickList->setUniformItemSizes(true);
  nickList->setFixedWidth(78);
  QFont listFont(QStringLiteral("MS Sans Serif"));
  listFont.setPixelSize(13);
  nickList->setFont(listFont);
  QPalette listPalette = nickList->palette();
  listPalette.setColor(QPalette::Base, silver());
  listPalette.setColor(QPalette::Text, Qt::black);
  nickList->setPalette(listPalette);
  nickList->setContextMenuPolicy(Qt::CustomContextMenu);
  nickList->installEventFilter(this);
  connect(nickList, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) {
            EnsureMenus();
            nickMenu->popup(nickList->viewport()->mapToGlobal(pos));
          });
  connect(nickList, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex&) { guarded([this] { OnNickDoubleClicked(); }); });
}

void TMDIChild::BuildInputLine() {
  inputPanel = new QWidget(this);
  inputPanel->setObjectName(QStringLiteral("Panel1"));
  inputPanel->installEventFilter(this);
  inputLine = new QLineEdit(inputPanel);
  inputLine->setObjectName(QStringLiteral("Edit1"));
  QPalette editPalette = inputLine->palette();
  editPalette.setColor(QPalette::Text, Qt::black);
  inputLine->setPalette(editPalette);
  inputLine->installEventFilter(this);
  // The default button: never seen, Enter in the input line presses it.
  sendButton = new QPushButton(QStringLiteral("&Send"), inputPanel);
  sendButton->setObjectName(QStringLiteral("Button1"));
  sendButton->setDefault(true);
  sendButton->setFocusPolicy(Qt::NoFocus);
  sendButton->setGeometry(-200, -200, 75, 25);
  connect(inputLine, &QLineEdit::returnPressed, sendButton, &QPushButton::click);
  connect(sendButton, &QPushButton::clicked, this, [this] {
    // The button's access key is seen by every window of the frame; a press
    // while the keyboard focus is in another window is not meant for this one,
    // whose input line may hold old text.
    const QWidget* focus = QApplication::focusWidget();
    if (focus && focus != this && !isAncestorOf(focus)) return;
    guarded([this] { OnSendClicked(); });
  });
}

void TMDIChild::BuildLayout() {
  // Ctrl+F4 closes the window wherever the keyboard focus is inside it. The
  // frame's own close key depends on the platform's key scheme (on X it is
  // only Ctrl+W), so the window carries the key itself.
  auto* closeKey = new QAction(this);
  closeKey->setObjectName(QStringLiteral("CloseKey"));
  closeKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
  closeKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(closeKey, &QAction::triggered, this, [this] { guarded([this] { CloseWindow(); }); });
  addAction(closeKey);

  auto* top = new QHBoxLayout;
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  top->addWidget(textPane, 1);
  top->addWidget(nickList);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(top, 1);
  column->addWidget(inputPanel);
}

QAction* TMDIChild::AddMenuItem(QMenu* menu, const char* objectName, const char* caption,
                            void (TMDIChild::*handler)()) {
  QAction* action = menu->addAction(QString::fromLatin1(caption));
  action->setObjectName(QString::fromLatin1(objectName));
  connect(action, &QAction::triggered, this, [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
  return action;
}

void TMDIChild::EnsureMenus() {
  // Made on first use: most windows (server, private) never show them, and
  // a flood of private messages opens many windows at once.
  if (nickMenu) return;
  BuildNickMenu();
  BuildChannelMenu();
}

void TMDIChild::BuildNickMenu() {
  nickMenu = new QMenu(this);
  nickMenu->setObjectName(QStringLiteral("PopupMenu1"));
  AddMenuItem(nickMenu, "Whois1", "&Whois", &TMDIChild::OnWhoisClicked);
  nickMenu->addSeparator();
  AddMenuItem(nickMenu, "Op1", "&Op", &TMDIChild::OnOpClicked);
  AddMenuItem(nickMenu, "DeOp1", "&DeOp", &TMDIChild::OnDeOpClicked);
  nickMenu->addSeparator();
  AddMenuItem(nickMenu, "Kick1", "&Kick!", &TMDIChild::OnKickClicked);
  nickMenu->addSeparator();
  QMenu* ctcp = nickMenu->addMenu(QStringLiteral("CTCP"));
  ctcp->setObjectName(QStringLiteral("CTCP1"));
  AddMenuItem(ctcp, "Version1", "&Version", &TMDIChild::OnCtcpVersionClicked);
  AddMenuItem(ctcp, "Ping1", "&Ping", &TMDIChild::OnCtcpPingClicked);
  AddMenuItem(ctcp, "ClientInfo1", "&Client Info", &TMDIChild::OnCtcpClientInfoClicked);
  AddMenuItem(ctcp, "UserInfo1", "&User Info", &TMDIChild::OnCtcpUserInfoClicked);
  AddMenuItem(ctcp, "Time1", "&Time", &TMDIChild::OnCtcpTimeClicked);
}

void TMDIChild::BuildChannelMenu() {
  channelMenu = new QMenu(this);
  channelMenu->setObjectName(QStringLiteral("PopupMenu2"));
  std::map<std::string, QMenu*> submenus{{std::string(), channelMenu}};
  // The menu of a path ("Channel si&ze/&Limited"), made the first time it is named.
  std::function<QMenu*(const std::string&)> menuAt = [&](const std::string& path) -> QMenu* {
    if (auto it = submenus.find(path); it != submenus.end()) return it->second;
    const std::size_t slash = path.rfind('/');
    QMenu* parent = menuAt(slash == std::string::npos ? std::string() : path.substr(0, slash));
    QMenu* m = parent->addMenu(QString::fromLatin1(path.substr(slash == std::string::npos ? 0 : slash + 1)));
    return submenus[path] = m;
  };
  for (const ChannelMenuItem& item : kChannelMenu) {
    const std::string path = item.path;
    const std::size_t slash = path.rfind('/');
    QMenu* menu = menuAt(slash == std::string::npos ? std::string() : path.substr(0, slash));
    const QString caption = QString::fromLatin1(path.substr(slash == std::string::npos ? 0 : slash + 1));
    std::function<void()> handler;
    switch (item.kind) {
      case ChannelMenuKind::Separator:
        menu->addSeparator();
        continue;
      case ChannelMenuKind::Send:
        handler = [this, text = item.text] { OnChannelSendItem(text); };
        break;
      case ChannelMenuKind::Prepare:
        handler = [this, text = item.text] { OnChannelPrepareItem(text); };
        break;
      case ChannelMenuKind::Part:
        handler = [this] { OnPartChannelClicked(); };
        break;
    }
    QAction* action = menu->addAction(caption);
    connect(action, &QAction::triggered, this, [handler] { guarded(handler); });
  }
}

// --- identity ------------------------------------------------------------------

void TMDIChild::SetCaption(const std::string& caption) {
  caption_ = caption;
  setWindowTitle(titleText(caption));
}

std::string TMDIChild::WindowName() const { return zorv::LeftStr(caption_); }

void TMDIChild::AddLine(const std::string& text) {
  host_.LogLine(WindowName(), text);
  const int minute = host_.ChatTimestamps() ? host_.LineTimeOfDayMs() / 60000 : -1;
  // Only lines someone said can name the user or be a private message.
  const std::string_view speaker = zorv::fmt::speakerOf(text);
  if (speaker.empty()) {
    textPane->appendLine(text, minute);
    return;
  }
  const std::string own = host_.OwnNick();
  const bool mention = zorv::fmt::mentionsOwnNick(text, own);
  const bool fromOther = !zorv::equalsIgnoreAsciiCase(speaker, own);
  const std::string name = WindowName();
  const bool isPrivate = !zorv::isChannelName(name) && !zorv::equalsIgnoreAsciiCase(name, zorv::kServerWindow);
  textPane->appendLine(text, minute, mention);
  if (mention || (isPrivate && fromOther)) host_.NeedsAttention(this, mention);
}

int TMDIChild::LineCount() const { return textPane->lineCount(); }

void TMDIChild::SetNickListVisible(bool visible) { nickList->setVisible(visible); }

void TMDIChild::SetChannelMenu(bool on) { channelMenuOn_ = on; }

// --- nick list -------------------------------------------------------------------

void TMDIChild::TakeNames(const std::string& names) { nickModel_->list().takeNames(names); }

void TMDIChild::AddNick(const std::string& nick) { nickModel_->list().addNick(nick); }

void TMDIChild::RemoveNick(const std::string& nick, const std::string& text) {
  const std::string line = nickModel_->list().removeNick(nick, text);
  if (!line.empty()) AddLine(line);
}

void TMDIChild::RenameNick(const std::string& oldNick, const std::string& newNick) {
  const std::string line = nickModel_->list().renameNick(oldNick, newNick);
  if (!line.empty()) AddLine(line);
}

void TMDIChild::SetOperator(const std::string& nick, bool give) { nickModel_->list().setOperator(nick, give); }

void TMDIChild::SetAway(const std::string& nick, bool away) { nickModel_->list().setAway(nick, away); }

void TMDIChild::SetAccount(const std::string& nick, const std::string& account) {
  nickModel_->list().setAccount(nick, account);
}

void TMDIChild::ClearNames() { nickModel_->list().clearNames(); }

void TMDIChild::ToggleNamesOpen() { nickModel_->list().toggleNamesOpen(); }

bool TMDIChild::NamesOpen() const { return nickModel_->list().namesOpen(); }

std::vector<std::string> TMDIChild::SelectedNicks() const {
  std::vector<int> rows;
  for (const QModelIndex& index : nickList->selectionModel()->selectedIndexes()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::vector<std::string> nicks;
  const NickList& list = nickModel_->list();
  for (int row : rows) {
    if (row < 0 || static_cast<std::size_t>(row) >= list.size()) continue;
    std::string nick = list.at(static_cast<std::size_t>(row));
    nick = std::string(NickList::bare(nick));
    nicks.push_back(std::move(nick));
  }
  return nicks;
}

// --- life of the window ------------------------------------------------------------

void TMDIChild::ApplyChatSettings() {
  QFont font = textPane->font();
  font.setFamily(host_.ChatFontName());
  const QString sizeText = host_.ChatFontSize();
  bool ok = false;
  int size = sizeText.trimmed().toInt(&ok);
  if (!ok || size <= 0 || size > kLargestFontSize) {
    // Shown once; the window still gets a usable font and finishes its set-up,
    // so that it keeps taking names replies into its nick list.
    reportBadFontSize(sizeText, ok);
    size = kDefaultFontSize;
  }
  font.setPointSize(size);
  textPane->setFont(font);
  textPane->setWordWrap(host_.ChatWordWrap());
  textPane->setTimestamps(host_.ChatTimestamps());
  inputLine->setFont(textPane->font());
  history.fill(std::string());
  LayoutInputLine();
  nickModel_->list().setNamesOpen(true);
}

void TMDIChild::OnShown() { inputLine->setFocus(); }

void TMDIChild::LayoutInputLine() {
  const int height = inputLine->sizeHint().height();
  inputLine->setGeometry(2, 2, std::max(0, inputPanel->width() - 4), height);
  if (inputPanel->height() != height + 4) inputPanel->setFixedHeight(height + 4);
}

void TMDIChild::OnActivated() {
  host_.MentionsSeen(WindowName());
  if (!caption_.empty() && caption_.front() == '*')
    host_.SetTopic(WindowName(), caption_.substr(1), true);
}

void TMDIChild::OnClosing() {
  if (closing_) return;
  closing_ = true;
  const std::string name = WindowName();
  // Each step runs even when an earlier one fails, so the tab always goes.
  if (zorv::isChannelName(caption_)) guarded([&] { host_.SendMsg("PART " + name); });
  if (zorv::equalsIgnoreAsciiCase(name, zorv::kServerWindow)) guarded([&] { host_.Disconnect(); });
  guarded([&] { host_.RemoveSelectBar(name); });
}

void TMDIChild::CloseWindow() {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
    sub->close();
  else
    close();
}

void TMDIChild::closeEvent(QCloseEvent* event) {
  OnClosing();
  event->accept();
  // Freed after the current event: by the subwindow around it when that is
  // deleted on close, otherwise here.
  auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget());
  if (sub) {
    if (!sub->testAttribute(Qt::WA_DeleteOnClose)) sub->deleteLater();
  } else {
    deleteLater();
  }
}

bool TMDIChild::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange) ReleaseFrameCloseKey();
  return QWidget::event(event);
}

// Where the frame around the window also binds Ctrl+F4 to closing, two
// actions would claim the key and Qt would run neither: the frame keeps its
// other keys, the window takes Ctrl+F4.
void TMDIChild::ReleaseFrameCloseKey() {
  auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget());
  if (!sub || !sub->systemMenu()) return;
  const QKeySequence key(Qt::CTRL | Qt::Key_F4);
  for (QAction* action : sub->systemMenu()->actions()) {
    QList<QKeySequence> keys = action->shortcuts();
    if (keys.removeAll(key) > 0) action->setShortcuts(keys);
  }
}

void TMDIChild::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) OnShown();
}

bool TMDIChild::eventFilter(QObject* watched, QEvent* event) {
  if (watched == inputPanel && event->type() == QEvent::Resize) {
    LayoutInputLine();
  } else if (watched == inputLine && event->type() == QEvent::KeyPress) {
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    const int key = keyEvent->key();
    const Qt::KeyboardModifiers mods = keyEvent->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    // Tab and Shift+Tab complete nicks in the input line instead of moving the
    // focus (the next key would be lost); with Ctrl it stays the frame's key
    // for switching windows.
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !(mods & (Qt::ControlModifier | Qt::AltModifier))) {
      const bool back = key == Qt::Key_Backtab || (mods & Qt::ShiftModifier);
      guarded([&] { CompleteNick(back); });
      return true;
    }
    // The page keys scroll the window's text; the input line has no use for them.
    if ((key == Qt::Key_PageUp || key == Qt::Key_PageDown) && (mods & ~Qt::ShiftModifier) == Qt::NoModifier) {
      textPane->verticalScrollBar()->triggerAction(key == Qt::Key_PageUp ? QAbstractSlider::SliderPageStepSub
                                                                       : QAbstractSlider::SliderPageStepAdd);
      return true;
    }
    guarded([&] { OnInputKey(key); });
  } else if ((watched == textPane || watched == nickList) && event->type() == QEvent::KeyPress &&
             isTyping(*static_cast<QKeyEvent*>(event))) {
    // Text typed while the text or the nick list has the focus (after a click
    // to select) is meant for the input line: the key and the focus go there.
    inputLine->setFocus(Qt::OtherFocusReason);
    QCoreApplication::sendEvent(inputLine, event);
    return true;
  }
  return QWidget::eventFilter(watched, event);  // the key goes on to the input line
}

// --- input line ----------------------------------------------------------------------

void TMDIChild::OnSendClicked() {
  const std::string text = zorv::CleanInput(zorv::fromInput(inputLine->text()));
  std::move_backward(history.begin(), history.end() - 1, history.end());
  history[0] = text;
  historyIndex = 0;

  const zorv::InterpretResult r =
      zorv::Interpret(text, WindowName(), host_.OwnNick(), host_.TimeOfDayMs(), host_.IsConnected(),
                      host_.ServerEchoes());
  if (!r.send.empty() && text.front() == '/') host_.CommandTyped(WindowName());
  auto writeAll = [&] {
    for (const std::string& line : r.writes) AddLine(line);
  };
  auto sendAll = [&] {
    if (r.send.empty()) return;
    host_.SendMsg(r.send);
    for (const std::string& line : r.sendMore) host_.SendMsg(line);
  };
  if (r.sendBeforeWrites) {
    sendAll();
    writeAll();
  } else {
    writeAll();
    for (const std::string& name : r.closeNames) host_.CloseChild(name);
    if (r.closeSelf) CloseWindow();
    if (!r.query.empty()) {
      host_.NewChild(r.query);
      host_.ChildFocus(r.query);
    }
    sendAll();
    for (const std::string& line : r.queryWrites) host_.AddText(r.query, line, true);
  }
  inputLine->clear();
  if (r.query.empty()) inputLine->setFocus();  // else the focus stays in the window the user asked for
}

void TMDIChild::Recall() {
  if (historyIndex < 0 || historyIndex > 9) historyIndex = 0;
  inputLine->setText(zorv::toDisplay(history[static_cast<std::size_t>(historyIndex)]));
  inputLine->setCursorPosition(static_cast<int>(inputLine->text().size()));
}

void TMDIChild::CompleteNick(bool back) {
  const QString text = inputLine->text();
  const std::size_t caret = zorv::fromInput(text.left(inputLine->cursorPosition())).size();
  const auto r = completer_.complete(zorv::fromInput(text), caret, Nicks().entries(), host_.ChannelNames(), back);
  if (!r.changed) return;
  inputLine->setText(zorv::toDisplay(r.text));
  inputLine->setCursorPosition(static_cast<int>(zorv::toDisplay(std::string_view(r.text).substr(0, r.caret)).size()));
}

void TMDIChild::OnInputKey(int key) {
  switch (key) {
    case Qt::Key_Escape:
      inputLine->clear();
      historyIndex = 0;
      break;
    case Qt::Key_Up:
      Recall();
      if (++historyIndex > 9) historyIndex = 0;
      break;
    case Qt::Key_Down:
      Recall();
      if (--historyIndex < 0) historyIndex = 9;
      break;
    default:
      break;
  }
}

// A window behind the active one is marked unread and keeps only its last
// lines; the active one keeps its scrollback. Cutting the text raises this
// handler again; the guard and the cut made in one step keep that from
// nesting once per line.
void TMDIChild::OnTextChanged() {
  if (inMemoChange_ || closing_) return;
  const QScopedValueRollback<bool> reentry(inMemoChange_, true);
  const int scrollback = host_.ScrollbackLines();
  int limit = scrollback;
  if (!host_.IsActiveChild(this)) {
    if (caption_.empty() || caption_.front() != '*') host_.SetTopic(WindowName(), "*" + caption_, true);
    limit = scrollback > 0 ? std::min(scrollback, kBackgroundLineLimit) : kBackgroundLineLimit;
  }
  if (limit > 0 && textPane->lineCount() > limit) {
    textPane->beginUpdate();
    textPane->deleteFirstLines(textPane->lineCount() - limit);
    textPane->endUpdate();
  }
}

// --- nick list actions -----------------------------------------------------------------

void TMDIChild::SendEach(const std::string& before, const std::string& after) {
  for (const std::string& nick : SelectedNicks()) host_.SendMsg(before + nick + after);
  inputLine->setFocus();
}

void TMDIChild::SendCtcp(const char* word) {
  SendEach("PRIVMSG ", std::string(" :") + kCtcp + word + kCtcp);
}

void TMDIChild::OnWhoisClicked() { SendEach("WHOIS ", ""); }

void TMDIChild::OnKickClicked() { SendEach("KICK " + WindowName() + " ", " :Nothing, Just kicking!"); }

void TMDIChild::OnCtcpVersionClicked() { SendCtcp("VERSION"); }

void TMDIChild::OnCtcpPingClicked() {
  for (const std::string& nick : SelectedNicks())
    host_.SendMsg("PRIVMSG " + nick + " :" + kCtcp + "PING " + std::to_string(host_.TimeOfDayMs()) + kCtcp);
  inputLine->setFocus();
}

void TMDIChild::OnCtcpClientInfoClicked() { SendCtcp("CLIENTINFO"); }

void TMDIChild::OnCtcpUserInfoClicked() { SendCtcp("USERINFO"); }

void TMDIChild::OnCtcpTimeClicked() { SendCtcp("TIME"); }

void TMDIChild::SendOps(const char* sign) {
  const std::string channel = WindowName();
  int count = 0;
  std::string letters, nicks;
  auto flush = [&] {
    host_.SendMsg("MODE " + channel + sign + letters + " " + nicks);
    count = 0;
    letters.clear();
    nicks.clear();
  };
  for (const std::string& nick : SelectedNicks()) {
    ++count;
    letters += "o";
    nicks += " " + nick;
    if (count == kOpBatch) flush();
  }
  if (count > 0) flush();
  inputLine->setFocus();
}

void TMDIChild::OnOpClicked() { SendOps(" +"); }

void TMDIChild::OnDeOpClicked() { SendOps(" -"); }

void TMDIChild::OnNickDoubleClicked() {
  for (const std::string& nick : SelectedNicks()) {
    inputLine->setFocus();
    host_.NewChild(nick);
  }
}

// --- links in the text ---------------------------------------------------------------------

void TMDIChild::OnLinkClicked(const TextPane::Link& link) {
  switch (link.kind) {
    case zorv::fmt::Span::Web: {
      const QUrl url(zorv::toDisplay(link.target), QUrl::TolerantMode);
      if (!url.isValid()) return;
      if (urlOpener())
        urlOpener()(url);
      else
        QDesktopServices::openUrl(url);
      break;
    }
    case zorv::fmt::Span::Irc:
      host_.OpenIrcLink(link.target);
      break;
    case zorv::fmt::Span::Channel:
      // A channel already joined is only brought to the front.
      host_.SendMsg("JOIN " + link.target);
      host_.ChildFocus(link.target);
      break;
  }
}

// --- channel mode menu ---------------------------------------------------------------------

std::string TMDIChild::ForChannel(std::string_view text) const {
  std::string out(text);
  const std::size_t at = out.find(kChannelMark);
  if (at != std::string::npos) out.replace(at, std::strlen(kChannelMark), WindowName());
  return out;
}

void TMDIChild::OnChannelSendItem(std::string_view line) { host_.SendMsg(ForChannel(line)); }

void TMDIChild::OnChannelPrepareItem(std::string_view text) {
  inputLine->setText(zorv::toDisplay(ForChannel(text)));
  inputLine->setCursorPosition(static_cast<int>(inputLine->text().size()));
}

void TMDIChild::OnPartChannelClicked() { CloseWindow(); }
