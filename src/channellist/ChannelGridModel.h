#pragma once
// The cells of the channel list grid: rows of three byte strings (channel,
// users, topic). The row count is the list's only state; it never drops
// below one.
//
// A large network lists tens of thousands of channels, one reply per row, so
// the view is not told of every row as it arrives. Changes are collected and
// handed to the view once per turn of the event loop (flush()), as one block
// of inserted or removed rows and one range of changed rows. rowCount() is
// what the view has been told; count() is the list's own row count.
#include <QAbstractTableModel>
#include <array>
#include <string>
#include <vector>

namespace zorv {

class ChannelGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 3;

  explicit ChannelGridModel(QObject* parent = nullptr);

  // The list's own state, always up to date.
  int count() const { return static_cast<int>(rows_.size()); }
  // Sets the row count (at least 1). Rows cut off lose their texts: a row
  // that comes back later starts empty.
  void setCount(int n);
  // Text of a cell; empty outside the grid.
  const std::string& cell(int col, int row) const;
  // Writes a cell inside the grid; ignored outside it.
  void setCell(int col, int row, std::string text);

  // Hands pending changes to the view now (done by itself once per
  // event-loop turn; call it before reading the view's current row).
  void flush();
  bool flushPending() const { return flushQueued_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // After the view was told of the changes of one flush.
  void flushed();

 private:
  void markDirty(int first, int last);
  void scheduleFlush();

  std::vector<std::array<std::string, kColumns>> rows_;
  int shown_ = 0;           // rows the view knows of
  int dirtyFirst_ = -1;     // changed rows among those the view knows of
  int dirtyLast_ = -1;
  bool flushQueued_ = false;
};

}  // namespace zorv
