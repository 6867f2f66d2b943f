// The nick list rules: order, the names reply and the event operations, and
// the list model the view shows.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>
#include <string>
#include <vector>

#include "Completion.h"
#include "NickList.h"

namespace {

using Entries = std::vector<std::string>;

NickList listOf(const Entries& entries) {
  NickList list;
  for (const auto& e : entries) list.addNick(e);
  return list;
}

TEST(NickList, SortsMarksBeforeDigitsBeforeLettersIgnoringCaseAndReadsNamesReplies) {
  const std::pair<Entries, Entries> cases[] = {
      {{"zed", "9lives", "+dave", "@zed", "Adam", "_under"}, {"+dave", "@zed", "_under", "9lives", "Adam", "zed"}},
      {{"[x]", "1", "a", "~t", "{y}"}, {"[x]", "{y}", "~t", "1", "a"}},
      {{"bobby", "bob", "Bo"}, {"Bo", "bob", "bobby"}},
      {{"Bob", "alice", "BOB", "bob"}, {"alice", "Bob", "BOB", "bob"}},  // equal ones keep their order
      {{"b", "a\xe9", "az"}, {"az", "a\xe9", "b"}},                      // bytes above 127 after letters
      {{"@b", "@A", "+c", "+B"}, {"+B", "+c", "@A", "@b"}},
  };
  for (const auto& [added, expected] : cases) EXPECT_EQ(listOf(added).entries(), expected);
  EXPECT_NE(NickList::compare("bob[", "bob{"), 0);  // no case folding beyond a to z
  // A names reply holds the words followed by a blank.
  for (const auto& [names, expected] : std::vector<std::pair<std::string, Entries>>{
           {"@alice bob carol", {"@alice", "bob"}}, {" @alice bob ", {}}, {"ann  ben cal ", {"ann"}}}) {
    NickList list;
    list.takeNames(names);
    EXPECT_EQ(list.entries(), expected) << names;
  }
}

// Names replies merged in batches give the list that inserting their words
// one by one gives, also with events and reads between the replies.
TEST(NickList, BatchMergeEqualsInsertingOneByOne) {
  std::mt19937 rng(20240611);
  auto word = [&] {
    std::string w;
    for (int len = 1 + static_cast<int>(rng() % 4); len-- > 0;) w.push_back("abcABC@+_[]019"[rng() % 14]);
    return w;
  };
  for (int round = 0; round < 50; ++round) {
    NickList batched, single;
    for (int part = 0; part < 3; ++part) {
      std::string names;
      for (int i = static_cast<int>(rng() % 60); i-- > 0;) {
        const std::string w = word();
        names += w + " ";
        single.addNick(w);
      }
      batched.takeNames(names);
      const std::string w = word();
      switch (rng() % 4) {  // an event or a read between two replies
        case 0: batched.addNick(w), single.addNick(w); break;
        case 1: EXPECT_EQ(batched.removeNick(w, "x"), single.removeNick(w, "x")); break;
        case 2: batched.setOperator(w, true), single.setOperator(w, true); break;
        default: EXPECT_EQ(batched.entries().size(), single.size()); break;
      }
    }
    ASSERT_EQ(batched.entries(), single.entries()) << "round " << round;
  }
}

TEST(NickList, DeleteChangeAndMode) {
  struct Case {
    Entries before;
    char op;  // d: removeNick, c: renameNick, + and -: setOperator
    const char *nick, *arg;
    Entries after;
    std::string written;
  };
  const Case cases[] = {
      {{"@bob", "bob", "x"}, 'd', "bob", "", {"@bob", "x"}, ""},
      {{"@bob", "x"}, 'd', "BOB", "gone", {"x"}, "gone"},
      {{"x"}, 'd', "bob", "*** QUIT: bob", {"x"}, ""},
      {{"+dave"}, 'd', "dave", "t", {}, "t"},
      {{"bob", "Bob"}, 'd', "bob", "", {"Bob"}, ""},
      {{"@bob", "ann"}, 'c', "bob", "robert", {"@robert", "ann"}, "*** bob is known as robert"},
      {{"Bob", "ann"}, 'c', "bob", "Aaron", {"Aaron", "ann"}, "*** bob is known as Aaron"},
      {{"ann", "+dave"}, 'c', "dave", "d", {"+d", "ann"}, "*** dave is known as d"},
      {{"Bob", "ann"}, '+', "bob", "", {"@bob", "ann"}, ""},
      {{"@bob"}, '+', "bob", "", {"@bob"}, ""},
      {{"@Bob", "ann"}, '-', "bob", "", {"ann", "bob"}, ""},
      {{"bob", "+dave"}, '-', "bob", "", {"+dave", "bob"}, ""},
      {{"+dave"}, '+', "dave", "", {"@+dave"}, ""},
      {{"bob"}, 'a', "bob", "", {"bob", "bob"}, ""},
  };
  for (const auto& c : cases) {
    NickList list = listOf(c.before);
    std::string written;
    if (c.op == 'd') written = list.removeNick(c.nick, c.arg);
    if (c.op == 'c') written = list.renameNick(c.nick, c.arg);
    if (c.op == '+' || c.op == '-') list.setOperator(c.nick, c.op == '+');
    if (c.op == 'a') list.addNick(c.nick);
    EXPECT_EQ(written, c.written) << c.op << c.nick;
    EXPECT_EQ(list.entries(), c.after) << c.op << c.nick;
  }
  NickList list = listOf({"a"});
  list.toggleNamesOpen();
  EXPECT_FALSE(list.namesOpen());
  list.clearNames();
  EXPECT_TRUE(list.namesOpen() && list.empty());
}

TEST(NickList, ModelFollowsTheListWithOneResetPerNamesReply) {
  NickListModel model;
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removes(&model, &QAbstractItemModel::rowsRemoved);
  std::string names;
  for (int i = 0; i < 20000; ++i) names += "n" + std::to_string(i * 7919 % 20000) + " ";
  model.list().takeNames(names);
  EXPECT_EQ(resets.count(), 1);
  ASSERT_EQ(model.rowCount(), 20000);
  EXPECT_EQ(model.data(model.index(2)).toString(), "n10");
  model.list().setOperator("n1", true);  // n1 goes from row 1, @n1 comes in at the top
  ASSERT_EQ(removes.count(), 1);
  EXPECT_EQ(removes.at(0).at(1).toInt(), 1);
  ASSERT_EQ(inserts.count(), 1);
  EXPECT_EQ(inserts.at(0).at(1).toInt(), 0);
  EXPECT_EQ(model.data(model.index(0)).toString(), "@n1");

  // An entry is shown without formatting codes and kept with them.
  NickListModel coded;
  coded.list().takeNames("\x02" "bo\x03" "4b ");
  ASSERT_EQ(coded.rowCount(), 1);
  EXPECT_EQ(coded.data(coded.index(0)).toString(), "bob");
  EXPECT_EQ(coded.list().at(0), "\x02" "bo\x03" "4b");
}

// Tab and Shift+Tab in the input line over a mixed-case list with marks:
// "|" marks the caret, "T" is Tab and "S" Shift+Tab.
TEST(NickList, CompletionCyclesThroughTheNicksInListOrder) {
  const NickList list = listOf({"Bob", "@Alice", "albert", "+alex", "@bob2", "@"});
  const Entries channels{"#zorv", "#Zed", "#other"};
  auto split = [](const std::string& s) {
    return std::pair{s.substr(0, s.find('|')) + s.substr(s.find('|') + 1), s.find('|')};
  };
  const struct {
    const char* typed;
    const char* keys;
    Entries after;
  } cases[] = {
      {"al|", "TTTT", {"alex: |", "Alice: |", "albert: |", "alex: |"}},
      {"AL|", "SST", {"albert: |", "Alice: |", "albert: |"}},
      {"hi B|", "TT", {"hi bob2 |", "hi Bob |"}},
      {"hey al| there", "T", {"hey alex |there"}},
      {"x|", "T", {"x|"}},
      {"al |", "T", {"al |"}},
      {"join #z|", "TT", {"join #zorv |", "join #Zed |"}},
      {"#O|", "T", {"#other |"}},
  };
  for (const auto& c : cases) {
    zorv::NickCompleter completer;
    auto [text, caret] = split(c.typed);
    for (std::size_t k = 0; k < c.after.size(); ++k) {
      const auto r = completer.complete(text, caret, list.entries(), channels, c.keys[k] == 'S');
      text = r.text;
      caret = r.caret;
      EXPECT_EQ(text.substr(0, caret) + "|" + text.substr(caret), c.after[k]) << c.typed << " press " << k;
    }
  }
  // Typing between presses starts again from the new word.
  zorv::NickCompleter completer;
  auto r = completer.complete("b", 1, list.entries(), channels, false);
  r = completer.complete(r.text + "al", r.text.size() + 2, list.entries(), channels, false);
  EXPECT_EQ(r.text, "bob2: alex ");
}

}  // namespace
