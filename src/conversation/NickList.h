#pragma once
// The nick list of a conversation window: its entries, their order and the
// operations the channel events use to change it. Plain C++; NickListModel
// shows it in a Qt item view.
//
// Order: as a sorted Windows list box orders its items. Bytes are compared one
// by one by rank: symbols (marks such as "@" and "+", brackets, ...) before
// digits, digits before letters, letters ignoring case, bytes above 127 last.
// A prefix comes before the longer text. Entries equal ignoring case stay in
// the order they were added in.
#include <QAbstractListModel>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class NickList {
 public:
  // Told about every change so that a view can follow it.
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void aboutToInsert(std::size_t row) = 0;
    virtual void inserted() = 0;
    virtual void aboutToRemove(std::size_t row) = 0;
    virtual void removed() = 0;
    virtual void aboutToReset() = 0;
    virtual void reset() = 0;
    // What the row shows besides its text (away, account) changed.
    virtual void changed(std::size_t /*row*/) {}
  };

  // The status marks a server puts before a nick ("@+bob" with all of them).
  static constexpr std::string_view kMarks = "~&@%+";
  // The entry less its marks.
  static std::string_view bare(std::string_view entry);

  // Three-way comparison in list order (<0, 0, >0); 0 means equal ignoring case.
  static int compare(std::string_view a, std::string_view b);

  std::size_t size() const { return entries_.size() + pending_.size(); }
  bool empty() const { return size() == 0; }
  const std::string& at(std::size_t row) const {
    settle();
    return entries_.at(row);
  }
  const std::vector<std::string>& entries() const {
    settle();
    return entries_;
  }

  // Inserts at the sorted place (after entries that compare equal); returns the row.
  std::size_t add(std::string entry);
  // Adds many entries at once, with one reset. The result is the same as
  // adding them one by one in the given order. The entries are merged into
  // the list on its next read, so a burst of names replies costs one sort
  // and one merge, not one merge of the whole list per reply.
  void addBatch(std::vector<std::string> batch);
  // The first entry equal to text ignoring case.
  std::optional<std::size_t> find(std::string_view text) const;
  void removeAt(std::size_t row);
  void clear();

  // The operations of a channel window's nick list.
  // Takes the blank-separated words of a names reply; a last word without a
  // blank after it is not taken, and the filling ends at a blank that starts
  // the remaining text (the caller appends one blank to the names).
  void takeNames(std::string_view names);
  void addNick(std::string_view nick);
  // The entry of nick, whatever marks it carries (the one without marks
  // first, then "@" + nick, then the other marks seen).
  std::optional<std::size_t> findNick(std::string_view nick) const;
  // Removes nick (whatever its marks). Returns the text to write into the pane:
  // text when an entry went and text is not empty, otherwise "".
  std::string removeNick(std::string_view nick, std::string_view text);
  // Renames nick (keeping its marks). Returns "*** old is known as new", or
  // "" when old is not listed.
  std::string renameNick(std::string_view oldNick, std::string_view newNick);
  // give: nick gains the "@" mark (before "%" and "+"); otherwise loses it.
  void setOperator(std::string_view nick, bool give);
  // What the server tells about a listed nick: away, and its account ("" none).
  void setAway(std::string_view nick, bool away);
  void setAccount(std::string_view nick, std::string_view account);
  bool isAway(std::string_view nick) const;
  std::string accountOf(std::string_view nick) const;
  void clearNames();
  void toggleNamesOpen() { namesOpen_ = !namesOpen_; }
  bool namesOpen() const { return namesOpen_; }
  void setNamesOpen(bool open) { namesOpen_ = open; }

  void setListener(Listener* listener) { listener_ = listener; }

 private:
  // Merges the entries taken by addBatch since the last read (announced already).
  void settle() const;

  mutable std::vector<std::string> entries_;
  mutable std::vector<std::string> pending_;  // in the order they were added
  // Every combination of marks an entry was added with ("" always first).
  void noteMarks(std::string_view entry);
  std::vector<std::string> marks_{""};
  // Away and account of listed nicks, by the nick in ASCII lower case.
  struct About {
    bool away = false;
    std::string account;
  };
  std::unordered_map<std::string, About> about_;
  void forget(std::string_view nick);
  bool namesOpen_ = true;
  Listener* listener_ = nullptr;
};

// Shows a NickList in a QListView. The list's rules stay in NickList; this
// adapter only forwards its change notifications as model signals.
class NickListModel : public QAbstractListModel, private NickList::Listener {
  Q_OBJECT
 public:
  explicit NickListModel(QObject* parent = nullptr);
  ~NickListModel() override;

  NickList& list() { return list_; }
  const NickList& list() const { return list_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // Height of one row in pixels (16 unless changed).
  void setRowHeight(int pixels) { rowHeight_ = pixels; }

 private:
  void aboutToInsert(std::size_t row) override;
  void inserted() override;
  void aboutToRemove(std::size_t row) override;
  void removed() override;
  void aboutToReset() override;
  void reset() override;
  void changed(std::size_t row) override;

  NickList list_;
  int rowHeight_ = 16;
};
