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
class QHBoxLayout;
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
  void OnConnectClicked();
  void OnDisconnectClicked();
  void Disconnect() override;
  void OnExitClicked();

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
  void OnTabClicked(int index);
  void EvenSectionWidths();
  void OnCascadeClicked();
  void OnTileClicked();
  void OnArrangeIconsClicked();
  void OnMinimizeAllClicked();
  void OnAboutClicked();
  void OnChannelListClicked();

  // --- Channel operations (every matching window) -----------------------------
  void FillNames(const std::string& p) override;
  void EndNames(const std::string& p) override;
  void AddNick(const std::string& channel, const std::string& nick) override;
  void DelNick(const std::string& channel, const std::string& nick) override;
  void QuitNick(const std::string& nick, const std::string& text) override;
  void ChangeNick(const std::string& oldNick, const std::string& newNick) override;
  void ModeNick(const std::string& channel, const std::string& nick, bool give) override;
  void ResetNames(const std::string& channel) override;
  void AwayNick(const std::string& nick, bool away) override;
  void NickAccount(const std::string& nick, const std::string& account) override;
  void SaidAt(long long utcMs) override;

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
  bool ServerEchoes() const override;
  int LineTimeOfDayMs() const override;
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
  void OnTimestampsClicked();
  void OnCopyClicked();

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
  void OnConnectionSettingsClicked();

  // --- Controls and parts. The controls' object names are the older program's
  // ("EditNick", "LabelFont", ...): the settings file's items name them. ----
  QWidget* toolbar = nullptr;
  QLineEdit* nickField = nullptr;
  QLineEdit* serverField = nullptr;
  QLineEdit* portField = nullptr;
  QCheckBox* tlsBox = nullptr;
  QPushButton* connectButton = nullptr;
  QPushButton* disconnectButton = nullptr;
  QPushButton* channelListButton = nullptr;
  QLabel* chatFontLabel = nullptr;
  QLabel* chatSizeLabel = nullptr;
  QMdiArea* windowArea = nullptr;
  HeaderBar* tabBar = nullptr;
  HeaderBar* scratchTabBar = nullptr;
  QStatusBar* statusLine = nullptr;
  QMenu* fileMenu = nullptr;
  QMenu* editMenu = nullptr;
  QMenu* viewMenu = nullptr;
  QMenu* windowMenu = nullptr;
  QMenu* helpMenu = nullptr;
  QAction* connectItem = nullptr;
  QAction* connectionSettingsItem = nullptr;
  QAction* channelListItem = nullptr;
  QAction* exitItem = nullptr;
  QAction* cutItem = nullptr;
  QAction* copyItem = nullptr;
  QAction* pasteItem = nullptr;
  QAction* timestampsItem = nullptr;
  QAction* cascadeItem = nullptr;
  QAction* tileItem = nullptr;
  QAction* arrangeIconsItem = nullptr;
  QAction* minimizeAllItem = nullptr;
  QAction* aboutItem = nullptr;
  Session* session = nullptr;  // the connection: socket, engine, keeper
  TIniOut* settings = nullptr;  // the settings component (ZORV.INI)
  WindowPlacement* placement = nullptr;
  ClientOptions* options = nullptr;
  ConnectionSettings* connectionSettings = nullptr;
  Logbook* logs = nullptr;
  TChannelForm* channelList = nullptr;
  TAboutBox* aboutBox = nullptr;

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
  void BuildTlsBox(QHBoxLayout& row);
  void BuildFrame();
  void LoadSettings();
  void OnFirstShow();
  void SaveSettings();
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
  std::string ownNick_;  // the text of nickField as bytes
  bool shown_ = false;
  bool destroying_ = false;
  std::vector<QAction*> windowListActions_;
  long long saidAt_ = 0;  // the time the lines being shown were said (0: now)
};

// The one main window of the program (set while it exists).
extern TMainForm* MainForm;
