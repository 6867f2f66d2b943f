// Nicks with every status mark the server gives (multi-prefix): each list
// operation finds them whatever marks they carry; away and account follow
// the nick and show in the model.
#include <gtest/gtest.h>

#include <QColor>

#include "Interpreter.h"
#include "NickList.h"

namespace {

using Entries = std::vector<std::string>;

TEST(NickMarks, OperationsFindEveryMark) {
  const struct {
    Entries before;
    char op;  // d: remove, c: rename, + and -: operator
    const char *nick, *arg;
    Entries after;
  } cases[] = {
      {{"@+bob", "x"}, 'd', "BOB", "", {"x"}},
      {{"~&@%+dave"}, 'd', "dave", "", {}},
      {{"%+ann", "bob"}, 'c', "ann", "zoe", {"%+zoe", "bob"}},
      {{"+bob"}, '+', "bob", "", {"@+bob"}},
      {{"~%bob"}, '+', "bob", "", {"~@%bob"}},
      {{"@+bob"}, '-', "bob", "", {"+bob"}},
      {{"@+bob"}, '+', "bob", "", {"@+bob"}},
      {{"+bobby", "+bo"}, 'd', "bob", "", {"+bo", "+bobby"}},
  };
  for (const auto& c : cases) {
    NickList list;
    for (const auto& e : c.before) list.addNick(e);
    if (c.op == 'd') list.removeNick(c.nick, "");
    if (c.op == 'c') list.renameNick(c.nick, c.arg);
    if (c.op == '+' || c.op == '-') list.setOperator(c.nick, c.op == '+');
    EXPECT_EQ(list.entries(), c.after) << c.op << c.nick;
  }
}

TEST(NickMarks, AwayAndAccountFollowTheNick) {
  NickListModel model;
  NickList& list = model.list();
  list.takeNames("@+bob ann ");
  list.setAway("carl", true);  // not listed: nothing kept
  list.setAway("BOB", true);
  list.setAccount("bob", "bobacc");
  EXPECT_FALSE(list.isAway("carl"));
  const QModelIndex bob = model.index(0);
  EXPECT_EQ(model.data(bob, Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
  EXPECT_EQ(model.data(bob, Qt::ToolTipRole).toString(), "@+bob\nAccount: bobacc\nAway");
  EXPECT_FALSE(model.data(model.index(1), Qt::ForegroundRole).isValid());
  list.renameNick("bob", "rob");
  EXPECT_TRUE(list.isAway("rob"));
  EXPECT_EQ(list.accountOf("rob"), "bobacc");
  list.setAway("rob", false);
  EXPECT_FALSE(list.isAway("rob"));
  list.removeNick("rob", "");
  list.addNick("rob");
  EXPECT_EQ(list.accountOf("rob"), "");
}

// When the server echoes messages, the interpreter writes no echo of its own.
TEST(NickMarks, EchoedMessagesAreNotWrittenTwice) {
  for (const char* typed : {"hello", "/me waves", "/notice bob hi", "/query bob hi"}) {
    const auto own = zorv::Interpret(typed, "#c", "me", 0, true, false);
    const auto echoed = zorv::Interpret(typed, "#c", "me", 0, true, true);
    EXPECT_FALSE(own.writes.empty() && own.queryWrites.empty()) << typed;
    EXPECT_TRUE(echoed.writes.empty() && echoed.queryWrites.empty()) << typed;
    EXPECT_EQ(echoed.send, own.send) << typed;
  }
}

}  // namespace
