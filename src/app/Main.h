#pragma once
// The main window: the frame of every conversation window, the menus and the
// status line. It builds the widgets, hands the user's connection actions to
// its Session and shows what the session reports. The open windows and their
// switcher bar sections are kept by WindowRegistry.
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChildHost.h"
#include "SessionHost.h"

class QAction;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPushButton;
class QStatusBar;
class HeaderBar;
class TAboutBox;
class TChannelForm;
class TIniOut;
class QCheckBox;
class TMDIChild;
class WindowPlacement;
class ClientOptions;
class Logbook;
class ConnectionSettings;
class Session;
class WindowRegistry;

class TMainForm : public QMainWindow, public SessionHost, public ChildHost {
  Q_OBJECT
 public:
  // programDir: where the settings file lives (the program's own directory by default).
  explicit TMainForm(const QString& programDir = QString(), QWidget* parent = nullptr);
  ~TMainForm() override;

  // --- Connection (handed to the session) -----------------------------------------
  void SendMsg(const std::string& line) override;
  bool IsConnected() const override;
  void BtnConnectClick();
  void ConnectItemClick();
  void BtnDisConnectClick() override;
  void FileExitItemClick();

  // --- Window registry ------------------------------------------------------
  void AddText(const std::string& name, const std::string& text, bool create) override;
  void NewChild(const std::string& name) override;
  bool ChildExist(const std::string& name) const;
  void ChildFocus(const std::string& name) override;
  void CloseChild(const std::string& name) override;
  void SetTopic(const std::string& name, const std::string& text, bool wholeCaption) override;
  static std::string LeftStr(const std::string& s);

  // Open conversation windows (those not closing), in creation order.
  std::vector<TMDIChild*> Children() const;
  // The frame's active conversation window, or null.
  TMDIChild* ActiveChild() const;

  // --- Switcher bar and menus ------------------------------------------------
  void RemoveSelectBar(const std::string& name) override;
  void UpdateMenuItems();
  void HeaderControl1SectionClick(int index);
  void EvenSectionWidths();
  void WindowCascadeItemClick();
  void WindowTileItemClick();
  void WindowArrangeItemClick();
  void WindowMinimizeItemClick();
  void HelpAboutItemClick();
  void BtnChannelClick();
  void ChannelList1Click();

  // --- Channel operations (every matching window) -----------------------------
  void FillNames(const std::string& p) override;
  void EndNames(const std::string& p) override;
  void AddNick(const std::string& channel, const std::string& nick) override;
  void DelNick(const std::string& channel, const std::string& nick) override;
  void QuitNick(const std::string& nick, const std::string& text) override;
  void ChangeNick(const std::string& oldNick, const std::string& newNick) override;
  void ModeNick(const std::string& channel, const std::string& nick, bool give) override;
  void ResetNames(const std::string& channel) override;

  // --- Frame / ChildHost plumbing ---------------------------------------------
  std::string OwnNick() const override;
  void SetOwnNick(const std::string& nick) override;
  void ChannelListStart() override;
  void AddChannelRow(const std::string& p) override;
  void ChannelListEnd() override;
  void Alert() override;
  int TimeOfDayMs() const override;
  bool IsActiveChild(const TMDIChild* child) const override;
  QString ChatFontName() const override;
  QString ChatFontSize() const override;
  void LogLine(const std::string& window, const std::string& text) override;
  void CommandTyped(const std::string& window) override;
  bool HasWindow(const std::string& name) const override;
  std::string ActiveWindow() const override;
  int ScrollbackLines() const override;
  bool ChatWordWrap() const override;
  bool ChatTimestamps() const override;
  void NeedsAttention(const TMDIChild* child, bool mention) override;
  void MentionsSeen(const std::string& name) override;
  // Joins the link's channels when it names the server and port of the
  // connection; otherwise asks whether to connect there instead.
  void OpenIrcLink(const std::string& link) override;
  // Connects to the server an irc:// or ircs:// link names (a link given at
  // start) and joins its channels once welcomed; a link that cannot be read
  // is said in the Server window.
  void ConnectToLink(const std::string& link);
  std::vector<std::string> ChannelNames() const override;

  // --- View and Edit menus -------------------------------------------------------
  void TimestampsItemClick();
  void CopyItemClick();

  // --- What the session reports and asks (SessionHost) -----------------------------
  void Show(const std::string& window, const std::string& text, bool create) override;
  void ShowInConversations(const std::string& text) override;
  void BringServerWindowToFront() override;
  std::vector<std::string> OpenWindows() const override;
  void ConnectionChanged(ConnectionState state) override;
  void ConnectionClosed() override;
  void NetworkChosen(const std::string& host) override;
  void ReconnectWaiting(bool waiting) override;
  zorv::CertAnswer AskCertificate(const TSslPeer& peer) override;
  ConnectTarget Target() const override;

  // --- Logging in (MainConnection.cpp) -----------------------------------------
  zorv::SaslConfig Login() const override;
  void ConnectionSettingsItemClick();

  // --- Controls (named as the program names them) ------------------------------
  QWidget* SpeedPanel = nullptr;
  QLineEdit* EditNick = nullptr;
  QLineEdit* EditServer = nullptr;
  QLineEdit* EditPort = nullptr;
  QCheckBox* CheckTLS = nullptr;
  QPushButton* BtnConnect = nullptr;
  QPushButton* BtnDisConnect = nullptr;
  QPushButton* BtnChannel = nullptr;
  QLabel* LabelFont = nullptr;
  QLabel* LabelSize = nullptr;
  QMdiArea* MdiArea = nullptr;
  HeaderBar* HeaderControl1 = nullptr;
  HeaderBar* HeaderControl2 = nullptr;
  QStatusBar* StatusBar = nullptr;
  QMenu* File1 = nullptr;
  QMenu* Edit1 = nullptr;
  QMenu* View1 = nullptr;
  QMenu* Window1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* ConnectItem = nullptr;
  QAction* ConnectionSettingsItem = nullptr;
  QAction* ChannelList1 = nullptr;
  QAction* FileExitItem = nullptr;
  QAction* CutItem = nullptr;
  QAction* CopyItem = nullptr;
  QAction* PasteItem = nullptr;
  QAction* TimestampsItem = nullptr;
  QAction* WindowCascadeItem = nullptr;
  QAction* WindowTileItem = nullptr;
  QAction* WindowArrangeItem = nullptr;
  QAction* WindowMinimizeItem = nullptr;
  QAction* HelpAboutItem = nullptr;
  Session* session = nullptr;  // the connection: socket, engine, keeper
  TIniOut* IniOut1 = nullptr;
  WindowPlacement* Placement = nullptr;
  ClientOptions* Options = nullptr;
  ConnectionSettings* Connection = nullptr;
  Logbook* Logs = nullptr;
  TChannelForm* ChannelForm = nullptr;
  TAboutBox* AboutBox = nullptr;

  // Where the settings file is.
  QString SettingsFile() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolbar();
  void BuildFrame();
  void FormCreate();
  void FormShow();
  void FormDestroy();
  // The one place the Connect, Disconnect and Channel List buttons and the
  // Nick, Server and Port fields are set.
  void SetConnectionControls(ConnectionState state);
  void RebuildWindowList();
  // A names reply (353) or its end (366) for the windows of its channel.
  void ForNamesReply(const std::string& p, bool end);
  // Runs a user action; an exception is shown in a message box and the program goes on.
  void Guard(const std::function<void()>& action);

  std::unique_ptr<WindowRegistry> registry_;
  QString programDir_;
  std::string ownNick_;  // the text of EditNick as bytes
  bool shown_ = false;
  bool destroying_ = false;
  std::vector<QAction*> windowListActions_;
};

// The one main window of the program (set while it exists).
extern TMainForm* MainForm;
