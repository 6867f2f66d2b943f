// End to end against ngircd with its flood limits on: the channels of the
// settings joined once the server has accepted Zorv, and a paste of twenty
// lines reaching another user whole, without Zorv being thrown off.
#include <QApplication>
#include <algorithm>

#include "ConnectionSettings.h"
#include "E2eWindows.h"
#include "MessageBox.h"

TEST_F(E2e, SettingsChannelsJoinedAndATwentyLinePasteArrivesWhole) {
  auto ann = client("ann", "#paste");
  form->connectionSettings->channels = "#paste,#second";
  connectZorv("zorv");
  ASSERT_FALSE(ann->waitLine(":zorv!").empty());
  ASSERT_TRUE(waitFor([&] { return window("#paste") && window("#second"); }, 5000));

  const auto previous = zorv::setQuestionAsker([](const QString&, const QString&) { return true; });
  QString paste;
  for (int i = 1; i <= 20; ++i) paste += QStringLiteral("line %1 of the paste\n").arg(i);
  window("#paste")->Paste(paste);
  zorv::setQuestionAsker(previous);
  EXPECT_TRUE(waitWindowHas("#paste", " lines waiting)"));  // how many depends on what registering used
  ASSERT_FALSE(ann->waitLine("PRIVMSG #paste :line 20 of the paste", 20000).empty());
  std::vector<std::string> said;
  for (const std::string& line : ann->lines())
    if (line.find("PRIVMSG #paste :line ") != std::string::npos) said.push_back(line.substr(line.find(":line ") + 1));
  ASSERT_EQ(said.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(said[i], "line " + std::to_string(i + 1) + " of the paste");
  // Still there: the server answers, and nothing was said of a flood.
  type("#paste", "still here");
  EXPECT_FALSE(ann->waitLine("PRIVMSG #paste :still here").empty());
  EXPECT_EQ(form->session->Socket().State(), wsConnected);
  EXPECT_EQ(count("Server", "Flood"), 0);
}
