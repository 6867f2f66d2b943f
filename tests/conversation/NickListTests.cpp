// The nick list rules: order, lookups, the names reply and the event operations.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>
#include <string>
#include <vector>

#include "NickList.h"

namespace {

using Entries = std::vector<std::string>;

NickList listOf(const Entries& entries) {
  NickList list;
  for (const auto& e : entries) list.addnamelist(e);
  return list;
}

TEST(NickListOrder, SymbolsBeforeDigitsBeforeLettersIgnoringCase) {
  struct {
    Entries added;
    Entries expected;
  } cases[] = {
      {{"bob", "@alice", "carol"}, {"@alice", "bob", "carol"}},
      {{"zed", "9lives", "+dave", "@zed", "Adam", "_under"}, {"+dave", "@zed", "_under", "9lives", "Adam", "zed"}},
      {{"[x]", "1", "a", "~t", "{y}"}, {"[x]", "{y}", "~t", "1", "a"}},
      {{"bobby", "bob", "Bo"}, {"Bo", "bob", "bobby"}},
      {{"Bob", "alice", "BOB", "bob"}, {"alice", "Bob", "BOB", "bob"}},  // equal ones keep their order
      {{"b", "a\xe9", "az"}, {"az", "a\xe9", "b"}},                      // bytes above 127 after letters
      {{"@b", "@A", "+c", "+B"}, {"+B", "+c", "@A", "@b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(listOf(c.added).entries(), c.expected);
}

TEST(NickListOrder, CompareIsZeroExactlyForEqualIgnoringAsciiCase) {
  EXPECT_EQ(NickList::compare("BoB[]", "bOb[]"), 0);
  EXPECT_NE(NickList::compare("bob[", "bob{"), 0);  // no folding beyond a to z
  EXPECT_NE(NickList::compare("\xc9", "\xe9"), 0);
  EXPECT_LT(NickList::compare("", "a"), 0);
}

TEST(NickListNames, SetnamelistTakesWordsFollowedByABlank) {
  struct {
    std::string names;
    Entries expected;
  } cases[] = {
      {"@alice bob carol ", {"@alice", "bob", "carol"}},
      {"@alice bob carol", {"@alice", "bob"}},
      {" @alice bob carol ", {}},
      {"ann  ben cal ", {"ann"}},
      {"", {}},
      {"solo ", {"solo"}},
      {"z y +x @w 1v ", {"+x", "@w", "1v", "y", "z"}},
  };
  for (const auto& c : cases) {
    NickList list;
    list.setnamelist(c.names);
    EXPECT_EQ(list.entries(), c.expected) << c.names;
  }
}

TEST(NickListNames, BatchMergeEqualsInsertingOneByOne) {
  std::mt19937 rng(20240611);
  const std::string alphabet = "abcABC@+_[]019";
  auto word = [&] {
    std::string w;
    const int len = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < len; ++i) w.push_back(alphabet[rng() % alphabet.size()]);
    return w;
  };
  for (int round = 0; round < 50; ++round) {
    NickList batched, single;
    for (int part = 0; part < 3; ++part) {
      std::string names;
      Entries words;
      const int n = static_cast<int>(rng() % 60);
      for (int i = 0; i < n; ++i) words.push_back(word());
      for (const auto& w : words) names += w + " ";
      batched.setnamelist(names);
      for (const auto& w : words) single.addnamelist(w);
      if (rng() % 2) {  // events between two replies
        const std::string w = word();
        batched.addnamelist(w);
        single.addnamelist(w);
      }
    }
    ASSERT_EQ(batched.entries(), single.entries()) << "round " << round;
  }
}

TEST(NickListEvents, DeleteChangeAndMode) {
  struct Case {
    const char* what;
    Entries before;
    std::function<std::string(NickList&)> op;
    Entries after;
    std::string written;
  };
  const Case cases[] = {
      {"del plain", {"@bob", "bob", "x"}, [](NickList& l) { return l.delnamelist("bob", ""); }, {"@bob", "x"}, ""},
      {"del op", {"@bob", "x"}, [](NickList& l) { return l.delnamelist("BOB", "gone"); }, {"x"}, "gone"},
      {"del unknown", {"x"}, [](NickList& l) { return l.delnamelist("bob", "*** QUIT: bob"); }, {"x"}, ""},
      {"del voiced", {"+dave"}, [](NickList& l) { return l.delnamelist("dave", "t"); }, {"+dave"}, ""},
      {"del first of two", {"bob", "Bob"}, [](NickList& l) { return l.delnamelist("bob", ""); }, {"Bob"}, ""},
      {"change op", {"@bob", "ann"}, [](NickList& l) { return l.changenamelist("bob", "robert"); },
       {"@robert", "ann"}, "*** bob is known as robert"},
      {"change plain", {"Bob", "ann"}, [](NickList& l) { return l.changenamelist("bob", "Aaron"); },
       {"Aaron", "ann"}, "*** bob is known as Aaron"},
      {"change unknown", {"ann"}, [](NickList& l) { return l.changenamelist("bob", "robert"); }, {"ann"}, ""},
      {"change voiced", {"+dave"}, [](NickList& l) { return l.changenamelist("dave", "d"); }, {"+dave"}, ""},
      {"op", {"Bob", "ann"}, [](NickList& l) { l.modenamelist("bob", true); return std::string(); },
       {"@bob", "ann"}, ""},
      {"op twice", {"@bob"}, [](NickList& l) { l.modenamelist("bob", true); return std::string(); }, {"@bob"}, ""},
      {"deop", {"@Bob", "ann"}, [](NickList& l) { l.modenamelist("bob", false); return std::string(); },
       {"ann", "bob"}, ""},
      {"deop plain", {"bob"}, [](NickList& l) { l.modenamelist("bob", false); return std::string(); }, {"bob"}, ""},
      {"op voiced", {"+dave"}, [](NickList& l) { l.modenamelist("dave", true); return std::string(); },
       {"+dave"}, ""},
      {"duplicate add", {"bob"}, [](NickList& l) { l.addnamelist("bob"); return std::string(); },
       {"bob", "bob"}, ""},
  };
  for (const auto& c : cases) {
    NickList list = listOf(c.before);
    EXPECT_EQ(c.op(list), c.written) << c.what;
    EXPECT_EQ(list.entries(), c.after) << c.what;
  }
}

TEST(NickListEvents, ResetAndToggleDriveTheListingFlag) {
  NickList list = listOf({"a", "b"});
  EXPECT_TRUE(list.nameliststatus());
  list.togglenamelist();
  EXPECT_FALSE(list.nameliststatus());
  list.resetnamelist();
  EXPECT_TRUE(list.nameliststatus());
  EXPECT_TRUE(list.empty());
}

TEST(NickListModelAdapter, FollowsTheListWithOneResetPerNamesReply) {
  NickListModel model;
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removes(&model, &QAbstractItemModel::rowsRemoved);

  std::string names;
  for (int i = 0; i < 20000; ++i) names += "n" + std::to_string(i * 7919 % 20000) + " ";
  model.list().setnamelist(names);
  EXPECT_EQ(resets.count(), 1);
  EXPECT_EQ(inserts.count(), 0);
  ASSERT_EQ(model.rowCount(), 20000);
  EXPECT_EQ(model.data(model.index(0)).toString(), "n0");
  EXPECT_EQ(model.data(model.index(1)).toString(), "n1");
  EXPECT_EQ(model.data(model.index(2)).toString(), "n10");

  model.list().modenamelist("n1", true);  // n1 goes, @n1 comes in at the top
  ASSERT_EQ(removes.count(), 1);
  EXPECT_EQ(removes.at(0).at(1).toInt(), 1);
  ASSERT_EQ(inserts.count(), 1);
  EXPECT_EQ(inserts.at(0).at(1).toInt(), 0);
  EXPECT_EQ(model.data(model.index(0)).toString(), "@n1");
  EXPECT_EQ(model.rowCount(), 20000);
}

}  // namespace
