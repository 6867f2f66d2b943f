#pragma once
// The channel list window: the server's answer to LIST as a grid of channel,
// user count and topic, from which the user joins a channel. One instance
// lives from start-up to the end and is only shown and hidden, so it keeps
// the last listing between uses.
//
// The main window drives it from the inbound replies: 321 -> ListStart(),
// each 322 -> AddChannelRow(P'), 323 -> ListEnd(); its "Channel List" button
// and menu item call OpenList(). All lines go out through the sendMsg given
// at construction.
#include <QDialog>
#include <functional>
#include <string>

class QPushButton;
class QTableView;
class QWidget;

namespace zorv {
class ChannelGridModel;
}

class TChannelForm : public QDialog {
  Q_OBJECT

 public:
  explicit TChannelForm(std::function<void(const std::string&)> sendMsg,
                        QWidget* parent = nullptr);

  // 321: the grid is cut to one row; the window is shown and brought to front.
  void ListStart();
  // 322: p is the reply's parameters after the own nick: channel, blank,
  // users, blank, ":" topic. Writes the last row and adds a placeholder row.
  void AddChannelRow(const std::string& p);
  // 323: one row less (the placeholder), never below one.
  void ListEnd();
  // The main window's "Channel List" actions: with one row the server is
  // asked for the list; otherwise the held listing is shown.
  void OpenList();

  int RowCount() const;
  void SetRowCount(int n);
  std::string Cell(int col, int row) const;
  // The grid's current row (after pending rows reached the view).
  int CurrentRow() const;

  void OnJoinClicked();        // Join
  void OnRefreshClicked();        // Refresh
  void OnGridDoubleClicked();  // Join

  QTableView* grid;
  QWidget* buttonPanel;
  QPushButton* joinButton;
  QPushButton* refreshButton;

  static constexpr const char* kPlaceholder = "Uncomplete listing.";

 private:
  void ClearList();
  void JoinCurrent();
  void SyncView() const;
  void KeepCurrentRow();
  // Runs a handler reached from a user action; an error becomes a message box.
  void Guarded(const std::function<void()>& handler);

  std::function<void(const std::string&)> sendMsg_;
  zorv::ChannelGridModel* model_;
};
