#include "NickList.h"

#include <QColor>
#include <QSize>
#include <algorithm>
#include <array>
#include <iterator>

#include "Formatting.h"
#include "Text.h"

namespace {

// Rank of every byte in list order: symbols, then digits, then letters
// (upper and lower case share a rank), then bytes above 127.
std::array<unsigned short, 256> makeRanks() {
  std::array<unsigned short, 256> rank{};
  unsigned short next = 0;
  auto isDigit = [](int c) { return c >= '0' && c <= '9'; };
  auto isUpper = [](int c) { return c >= 'A' && c <= 'Z'; };
  auto isLower = [](int c) { return c >= 'a' && c <= 'z'; };
  for (int c = 0; c < 128; ++c)
    if (!isDigit(c) && !isUpper(c) && !isLower(c)) rank[c] = next++;
  for (int c = '0'; c <= '9'; ++c) rank[c] = next++;
  for (int c = 'A'; c <= 'Z'; ++c) {
    rank[c] = next;
    rank[c - 'A' + 'a'] = next;
    ++next;
  }
  for (int c = 128; c < 256; ++c) rank[c] = next++;
  return rank;
}

const std::array<unsigned short, 256> kRank = makeRanks();

bool before(const std::string& a, const std::string& b) { return NickList::compare(a, b) < 0; }

std::string lowerKey(std::string_view nick) {
  std::string key(NickList::bare(nick));
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

}  // namespace

int NickList::compare(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ra = kRank[static_cast<unsigned char>(a[i])];
    const int rb = kRank[static_cast<unsigned char>(b[i])];
    if (ra != rb) return ra < rb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string_view NickList::bare(std::string_view entry) {
  const auto at = entry.find_first_not_of(kMarks);
  return at == std::string_view::npos ? std::string_view() : entry.substr(at);
}

void NickList::noteMarks(std::string_view entry) {
  const std::string_view marks = entry.substr(0, entry.size() - bare(entry).size());
  if (marks.empty() || marks.size() == entry.size()) return;
  for (const std::string& m : marks_)
    if (m == marks) return;
  marks_.emplace_back(marks);
}

std::optional<std::size_t> NickList::findNick(std::string_view nick) const {
  if (auto row = find(nick)) return row;
  std::string probe;
  for (const std::string& m : marks_) {
    if (m.empty()) continue;
    probe.assign(m).append(nick);
    if (auto row = find(probe)) return row;
  }
  if (auto row = find("@" + std::string(nick))) return row;  // a lone "@" entry
  return std::nullopt;
}

std::size_t NickList::add(std::string entry) {
  settle();
  noteMarks(entry);
  // After every entry that compares equal, as a sorted list box inserts.
  const auto it = std::upper_bound(entries_.begin(), entries_.end(), entry, before);
  const auto row = static_cast<std::size_t>(it - entries_.begin());
  if (listener_) listener_->aboutToInsert(row);
  entries_.insert(it, std::move(entry));
  if (listener_) listener_->inserted();
  return row;
}

void NickList::addBatch(std::vector<std::string> batch) {
  if (batch.empty()) return;
  for (const std::string& entry : batch) noteMarks(entry);
  if (batch.size() == 1) {
    add(std::move(batch.front()));
    return;
  }
  if (listener_) listener_->aboutToReset();
  if (pending_.empty()) {
    pending_ = std::move(batch);
  } else {
    pending_.reserve(pending_.size() + batch.size());
    std::move(batch.begin(), batch.end(), std::back_inserter(pending_));
  }
  if (listener_) listener_->reset();
}

void NickList::settle() const {
  if (pending_.empty()) return;
  // Stable: of equal entries, earlier batches stay before later ones, and
  // those already listed stay first.
  std::stable_sort(pending_.begin(), pending_.end(), before);
  const auto oldSize = static_cast<std::ptrdiff_t>(entries_.size());
  entries_.reserve(entries_.size() + pending_.size());
  std::move(pending_.begin(), pending_.end(), std::back_inserter(entries_));
  pending_.clear();
  pending_.shrink_to_fit();
  std::inplace_merge(entries_.begin(), entries_.begin() + oldSize, entries_.end(), before);
}

std::optional<std::size_t> NickList::find(std::string_view text) const {
  settle();
  // Entries equal ignoring case compare equal and so stand together; the
  // first of them is the first in list order.
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), text,
                                   [](const std::string& e, std::string_view t) { return compare(e, t) < 0; });
  if (it == entries_.end() || compare(*it, text) != 0) return std::nullopt;
  return static_cast<std::size_t>(it - entries_.begin());
}

void NickList::removeAt(std::size_t row) {
  settle();
  if (row >= entries_.size()) return;
  if (listener_) listener_->aboutToRemove(row);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(row));
  if (listener_) listener_->removed();
}

void NickList::clear() {
  if (listener_) listener_->aboutToReset();
  entries_.clear();
  entries_.shrink_to_fit();
  pending_.clear();
  pending_.shrink_to_fit();
  about_.clear();
  if (listener_) listener_->reset();
}

void NickList::takeNames(std::string_view names) {
  std::vector<std::string> words;
  for (;;) {
    const auto blank = names.find(' ');
    if (blank == std::string_view::npos || blank == 0) break;
    words.emplace_back(names.substr(0, blank));
    names.remove_prefix(blank + 1);
  }
  addBatch(std::move(words));
}

void NickList::addNick(std::string_view nick) { add(std::string(nick)); }

void NickList::forget(std::string_view nick) { about_.erase(lowerKey(nick)); }

std::string NickList::removeNick(std::string_view nick, std::string_view text) {
  const auto row = findNick(nick);
  if (!row) return {};
  removeAt(*row);
  forget(nick);
  return std::string(text);
}

std::string NickList::renameNick(std::string_view oldNick, std::string_view newNick) {
  const auto row = findNick(oldNick);
  if (!row) return {};
  const std::string& entry = at(*row);
  std::string renamed = entry.substr(0, entry.size() - bare(entry).size());
  renamed.append(newNick);
  removeAt(*row);
  const auto node = about_.extract(lowerKey(oldNick));
  add(std::move(renamed));
  if (!node.empty()) about_[lowerKey(newNick)] = node.mapped();
  return "*** " + std::string(oldNick) + " is known as " + std::string(newNick);
}

void NickList::setOperator(std::string_view nick, bool give) {
  const auto row = findNick(nick);
  if (!row) return;
  const std::string& entry = at(*row);
  std::string marks = entry.substr(0, entry.size() - bare(entry).size());
  const auto op = marks.find('@');
  if (give == (op != std::string::npos)) return;
  if (give) {
    // In rank order: after "~" and "&", before "%" and "+".
    marks.insert(marks.find_first_of("%+") == std::string::npos ? marks.size() : marks.find_first_of("%+"), 1, '@');
  } else {
    marks.erase(op, 1);
  }
  removeAt(*row);
  add(marks + std::string(nick));
}

void NickList::setAway(std::string_view nick, bool away) {
  const auto row = findNick(nick);
  if (!row) return;
  About& a = about_[lowerKey(nick)];
  if (a.away == away) return;
  a.away = away;
  if (listener_) listener_->changed(*row);
}

void NickList::setAccount(std::string_view nick, std::string_view account) {
  const auto row = findNick(nick);
  if (!row) return;
  About& a = about_[lowerKey(nick)];
  if (a.account == account) return;
  a.account.assign(account);
  if (listener_) listener_->changed(*row);
}

bool NickList::isAway(std::string_view nick) const {
  const auto it = about_.find(lowerKey(nick));
  return it != about_.end() && it->second.away;
}

std::string NickList::accountOf(std::string_view nick) const {
  const auto it = about_.find(lowerKey(nick));
  return it == about_.end() ? std::string() : it->second.account;
}

void NickList::clearNames() {
  clear();
  namesOpen_ = true;
}

// ---------------------------------------------------------------------------

NickListModel::NickListModel(QObject* parent) : QAbstractListModel(parent) { list_.setListener(this); }

NickListModel::~NickListModel() { list_.setListener(nullptr); }

int NickListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.size());
}

QVariant NickListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= list_.size()) return {};
  const std::string& entry = list_.at(static_cast<std::size_t>(index.row()));
  switch (role) {
    case Qt::DisplayRole:
      return zorv::toDisplay(zorv::fmt::hasCodes(entry) ? zorv::fmt::strip(entry) : entry);
    case Qt::ToolTipRole:
    {
      // The entry, then what the server told about the nick.
      QString tip = zorv::toDisplay(zorv::fmt::hasCodes(entry) ? zorv::fmt::strip(entry) : entry);
      const std::string account = list_.accountOf(entry);
      if (!account.empty()) tip += QStringLiteral("\nAccount: ") + zorv::toDisplay(zorv::fmt::strip(account));
      if (list_.isAway(entry)) tip += QStringLiteral("\nAway");
      return tip;
    }
    case Qt::ForegroundRole:
      if (list_.isAway(entry)) return QColor(Qt::gray);
      return {};
    case Qt::SizeHintRole:
      return QSize(1, rowHeight_);
    default:
      return {};
  }
}

void NickListModel::aboutToInsert(std::size_t row) {
  beginInsertRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
}
void NickListModel::inserted() { endInsertRows(); }
void NickListModel::aboutToRemove(std::size_t row) {
  beginRemoveRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
}
void NickListModel::removed() { endRemoveRows(); }
void NickListModel::aboutToReset() { beginResetModel(); }
void NickListModel::changed(std::size_t row) {
  const QModelIndex i = index(static_cast<int>(row));
  emit dataChanged(i, i, {Qt::ForegroundRole, Qt::ToolTipRole});
}
void NickListModel::reset() { endResetModel(); }
