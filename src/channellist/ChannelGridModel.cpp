#include "ChannelGridModel.h"

#include <QMetaObject>
#include <algorithm>

#include "Formatting.h"
#include "Text.h"

namespace zorv {

namespace {
const std::string kEmpty;
}

ChannelGridModel::ChannelGridModel(QObject* parent) : QAbstractTableModel(parent) {
  rows_.resize(1);
  shown_ = 1;
}

void ChannelGridModel::setCount(int n) {
  n = std::max(n, 1);
  const int old = count();
  if (n == old) return;
  if (n < old) {
    // The rows cut off go away with their texts. Those the view still shows
    // are repainted empty until the flush removes them or reuses them.
    rows_.resize(static_cast<size_t>(n));
    markDirty(n, old - 1);
  } else {
    rows_.resize(static_cast<size_t>(n));
  }
  scheduleFlush();
}

const std::string& ChannelGridModel::cell(int col, int row) const {
  if (col < 0 || col >= kColumns || row < 0 || row >= count()) return kEmpty;
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void ChannelGridModel::setCell(int col, int row, std::string text) {
  if (col < 0 || col >= kColumns || row < 0 || row >= count()) return;
  rows_[static_cast<size_t>(row)][static_cast<size_t>(col)] = std::move(text);
  markDirty(row, row);
  scheduleFlush();
}

void ChannelGridModel::markDirty(int first, int last) {
  // Only rows the view already knows of need a change notice; new rows are
  // read when they are inserted.
  last = std::min(last, shown_ - 1);
  if (first > last) return;
  if (dirtyFirst_ < 0) {
    dirtyFirst_ = first;
    dirtyLast_ = last;
  } else {
    dirtyFirst_ = std::min(dirtyFirst_, first);
    dirtyLast_ = std::max(dirtyLast_, last);
  }
}

void ChannelGridModel::scheduleFlush() {
  if (flushQueued_) return;
  flushQueued_ = true;
  QMetaObject::invokeMethod(this, &ChannelGridModel::flush, Qt::QueuedConnection);
}

void ChannelGridModel::flush() {
  if (!flushQueued_) return;  // already flushed synchronously
  flushQueued_ = false;
  const int target = count();
  if (target < shown_) {
    beginRemoveRows(QModelIndex(), target, shown_ - 1);
    shown_ = target;
    endRemoveRows();
  }
  // Rows the view keeps whose texts changed.
  const int last = std::min(dirtyLast_, shown_ - 1);
  if (dirtyFirst_ >= 0 && dirtyFirst_ <= last)
    emit dataChanged(index(dirtyFirst_, 0), index(last, kColumns - 1), {Qt::DisplayRole});
  dirtyFirst_ = dirtyLast_ = -1;
  if (target > shown_) {
    beginInsertRows(QModelIndex(), shown_, target - 1);
    shown_ = target;
    endInsertRows();
  }
  emit flushed();
}

int ChannelGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_;
}

int ChannelGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant ChannelGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  // Between a change and its flush the view may still paint rows that are
  // gone; cell() gives them as empty.
  // Topics are shown without their formatting codes.
  const std::string& text = cell(index.column(), index.row());
  return toDisplay(index.column() == 2 && fmt::hasCodes(text) ? fmt::strip(text) : text);
}

Qt::ItemFlags ChannelGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace zorv
