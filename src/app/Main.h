#pragma once
// The main window: the frame of every conversation window, the one connection
// to the server, the menus and the status line. The open windows and their
// switcher bar sections are kept by WindowRegistry; the main window passes the
// engine's and the windows' requests on to it.
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChildHost.h"
#include "Frame.h"
#include "WSocket.h"

class QAction;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPushButton;
class QStatusBar;
class HeaderBar;
class InboundEngine;
class TAboutBox;
class TChannelForm;
class TIniOut;
class QCheckBox;
class TMDIChild;
class WindowPlacement;
class ClientOptions;
class Logbook;
class ConnectionKeeper;
class KeepAliveSettings;
class ConnectionSettings;
class WindowRegistry;

// What the connection controls show: no connection, one being made (the
// lookup and the connect), one established.
enum class ConnectionState { Idle, Connecting, Connected };

class TMainForm : public QMainWindow, public Frame, public ChildHost {
  Q_OBJECT
 public:
  // programDir: where the settings file lives (the program's own directory by default).
  explicit TMainForm(const QString& programDir = QString(), QWidget* parent = nullptr);
  ~TMainForm() override;

  // --- Connection lifecycle ---------------------------------------------------
  void SendMsg(const std::string& line) override;
  bool IsConnected() const override;
  void BtnConnectClick();
  void ConnectItemClick();
  // The reconnect's attempt: a Connect that leaves the active window and the
  // keyboard focus where the user has them.
  void ConnectAgain();
  void BtnDisConnectClick() override;
  void FileExitItemClick();
  void CliWSocketDnsLookupDone(TCustomWSocket* sender, uint16_t error);
  void CliWSocketSessionConnected(TCustomWSocket* sender, uint16_t error);
  void CliWSocketSessionClosed(TCustomWSocket* sender, uint16_t error);
  void CliWSocketDataAvailable(TCustomWSocket* sender, uint16_t error);
  // Channels to join when the welcome of that server and port arrives (from a
  // link given at start).
  void JoinWhenRegistered(const std::string& server, const std::string& port, std::vector<std::string> channels);
  // The server's welcome: a restored connection joins its channels again, and
  // a link's channels are joined.
  void Registered() override;

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
  std::string LocalShortDate() const override;
  std::string LocalLongTime() const override;
  bool IsActiveChild(const TMDIChild* child) const override;
  QString ChatFontName() const override;
  QString ChatFontSize() const override;
  void LogLine(const std::string& window, const std::string& text) override;
  void CommandTyped(const std::string& window) override;
  bool HasWindow(const std::string& name) const override;
  std::string ActiveWindow() const override;
  LastCommand LastCommandTyped() const override { return lastCommand_; }
  int ScrollbackLines() const override;
  bool ChatWordWrap() const override;
  bool ChatTimestamps() const override;
  void NeedsAttention(const TMDIChild* child, bool mention) override;
  void MentionsSeen(const std::string& name) override;
  // Joins the link's channels when it names the server and port of the
  // connection; otherwise asks whether to connect there instead.
  void OpenIrcLink(const std::string& link) override;
  std::vector<std::string> ChannelNames() const override;

  // --- View and Edit menus -------------------------------------------------------
  void TimestampsItemClick();
  void CopyItemClick();

  // --- Logging in (MainConnection.cpp) -----------------------------------------
  zorv::SaslConfig Sasl() const override;
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
  TWSocket* CliWSocket = nullptr;
  TIniOut* IniOut1 = nullptr;
  WindowPlacement* Placement = nullptr;
  ClientOptions* Options = nullptr;
  ConnectionSettings* Connection = nullptr;
  Logbook* Logs = nullptr;
  KeepAliveSettings* ConnSettings = nullptr;
  ConnectionKeeper* Keeper = nullptr;  // lag check, reconnect, send queue bound
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
  void BuildSocket();
  void BuildFrame();
  void FormCreate();
  void FormShow();
  void FormDestroy();
  // The one place the Connect, Disconnect and Channel List buttons and the
  // Nick, Server and Port fields are set.
  void SetConnectionControls(ConnectionState state);
  void StartConnect(bool byUser);
  void RebuildWindowList();
  // A names reply (353) or its end (366) for the windows of its channel.
  void ForNamesReply(const std::string& p, bool end);
  // Runs a user action; an exception is shown in a message box and the program goes on.
  void Guard(const std::function<void()>& action);

  std::unique_ptr<WindowRegistry> registry_;
  std::unique_ptr<InboundEngine> engine_;
  QString programDir_;
  std::string ownNick_;  // the text of EditNick as bytes
  bool shown_ = false;
  bool destroying_ = false;
  bool userConnect_ = false;  // the connection under way was asked for by the user
  LastCommand lastCommand_;
  std::vector<QAction*> windowListActions_;
  struct PendingJoins {
    std::string server, port;
    std::vector<std::string> channels;
  } pendingJoins_;
};

// The one main window of the program (set while it exists).
extern TMainForm* MainForm;
