#pragma once
// TMDIChild: one conversation window (the Server window, a channel or a
// private partner). It holds the text pane, the nick list, the input line with
// its history, and the two context menus; it reaches the main window only
// through ChildHost. Its identity is its caption, kept as bytes.
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ChildHost.h"
#include "Completion.h"
#include "NickList.h"
#include "TextPane.h"

class QAction;
class QUrl;

namespace zorv {
// Web links clicked in a window's text open through the desktop; a test puts
// its own opener in place. Returns the previous one (none: the desktop's).
using UrlOpener = std::function<void(const QUrl&)>;
UrlOpener setUrlOpener(UrlOpener opener);
}  // namespace zorv

class TMDIChild : public QWidget {
  Q_OBJECT
 public:
  explicit TMDIChild(ChildHost& host, QWidget* parent = nullptr);  // runs FormCreate
  ~TMDIChild() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);  // also sets the Qt window title
  std::string WindowName() const;               // LeftStr(Caption())
  void AddLine(const std::string& text);        // one line into Memo1 (then Memo1Change)
  int LineCount() const;
  void SetNickListVisible(bool visible);
  void SetChannelMenu(bool on);  // PopupMenu2 as Memo1's context menu
  bool HasChannelMenu() const { return channelMenu_; }

  // The nick list.
  void setnamelist(const std::string& names);
  void addnamelist(const std::string& nick);
  void delnamelist(const std::string& nick, const std::string& text);
  void changenamelist(const std::string& oldNick, const std::string& newNick);
  void modenamelist(const std::string& nick, bool give);
  void resetnamelist();
  void togglenamelist();
  bool nameliststatus() const;
  const NickList& Nicks() const { return nickModel_->list(); }
  NickListModel* NickModel() const { return nickModel_; }
  // The nicks of the selected entries in list order, every "@" removed.
  std::vector<std::string> SelectedNicks() const;

  void FormCreate();
  void FormShow();
  void FormResize();
  void FormActivate();  // the main window calls it when this window becomes the active child
  void FormClose();     // runs once; use CloseWindow() to close the window
  void CloseWindow();   // closes the QMdiSubWindow around it if any (else itself)
  bool IsClosing() const { return closing_; }

  // The input line.
  void Button1Click();
  void Edit1KeyDown(int key);  // Qt::Key_Escape, Qt::Key_Up, Qt::Key_Down are handled
  // Tab (back: Shift+Tab) in the input line: the word before the caret
  // completed to a nick of the window or a channel name.
  void CompleteNick(bool back);
  void Memo1Change();

  // The nick list's menu and double-click.
  void Whois1Click();
  void Op1Click();
  void DeOp1Click();
  void Kick1Click();
  void Version1Click();
  void Ping1Click();
  void ClientInfo1Click();
  void UserInfo1Click();
  void Time1Click();
  void ListBox1DblClick();

  // A click on a link in the text: web links open in the browser, irc://
  // links go to the main window, a channel name is joined.
  void LinkClick(const TextPane::Link& link);

  // The channel mode menu: one handler per kind of item. The texts hold
  // "{channel}" where the channel's name goes.
  void OnChannelSendItem(std::string_view line);     // sends the line
  void OnChannelPrepareItem(std::string_view text);  // puts the text into the input line
  void PartChannel1Click();                          // closes the window, which leaves the channel

  QSize sizeHint() const override { return {512, 315}; }

  // Controls, public for the main window and tests.
  QWidget* Panel1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* Button1 = nullptr;
  TextPane* Memo1 = nullptr;
  QListView* ListBox1 = nullptr;
  // The nick list menu and the channel mode menu, made by EnsureMenus.
  QMenu* PopupMenu1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  // The text pane's menu over selected text (made on first use).
  QMenu* CopyMenu = nullptr;
  void EnsureMenus();

  std::array<std::string, 10> History;
  int HistoryIndex = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void buildNickMenu();
  void buildChannelMenu();
  QAction* addItem(QMenu* menu, const char* objectName, const char* caption, void (TMDIChild::*handler)());
  void sendEach(const std::string& before, const std::string& after);
  void sendCtcp(const char* word);
  void sendOps(const char* sign);
  // The text with the channel's name in place of "{channel}".
  std::string ForChannel(std::string_view text) const;
  void recall();
  void releaseFrameCloseKey();

  ChildHost& host_;
  std::string caption_;
  NickListModel* nickModel_ = nullptr;
  bool channelMenu_ = false;
  bool closing_ = false;
  bool inMemoChange_ = false;
  zorv::NickCompleter completer_;
};
