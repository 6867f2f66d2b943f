// Logging in from the main window: the settings and their dialog, the
// settings file kept private when it holds a password, and the registration
// on the wire against a scripted loopback server.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <functional>

#include "AppFixture.h"
#include "ConnectionDialog.h"
#include "ConnectionSettings.h"
#include "Profile.h"

using namespace apptest;
using testsupport::LoopbackServer;
using testsupport::waitFor;

namespace {

// Opens the dialog from the File menu; fill() acts on it while it is shown.
void withDialog(TMainForm& form, const std::function<void(ConnectionDialog&)>& fill) {
  bool seen = false;
  QTimer::singleShot(0, &form, [&] {
    auto* dialog = qobject_cast<ConnectionDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;  // the test fails below; nothing is left open
    seen = true;
    fill(*dialog);
  });
  QTimer::singleShot(3000, &form, [] {  // never leave a modal loop running
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  form.connectionSettingsItem->trigger();
  EXPECT_TRUE(seen) << "the dialog did not open";
}

struct Fields {
  QString serverPassword, account, password;
  bool tls;
};
void expectFields(const ConnectionSettings& s, const Fields& f) {
  EXPECT_EQ(s.serverPassword, f.serverPassword);
  EXPECT_EQ(s.account, f.account);
  EXPECT_EQ(s.password, f.password);
  EXPECT_EQ(s.tls, f.tls);
}

TEST_F(AppTest, TheDialogEditsTheSettingsOnOkOnly) {
  ASSERT_EQ(form->fileMenu->actions().indexOf(form->connectionSettingsItem),
            form->fileMenu->actions().indexOf(form->connectItem) + 1);
  form->connectionSettings->account = "old";
  for (bool ok : {false, true}) {
    withDialog(*form, [ok](ConnectionDialog& d) {
      EXPECT_EQ(d.EditAccount->text(), "old");
      EXPECT_EQ(d.EditPassword->echoMode(), QLineEdit::Password);
      EXPECT_EQ(d.EditServerPassword->echoMode(), QLineEdit::Password);
      d.EditServerPassword->setText("srv pw");
      d.EditAccount->setText("zed");
      d.EditPassword->setText("hunter2");
      d.tlsBox->setChecked(true);
      ok ? d.accept() : d.reject();
    });
    expectFields(*form->connectionSettings, ok ? Fields{"srv pw", "zed", "hunter2", true} : Fields{"", "old", "", false});
  }
}

// What the settings file holds after a run, and who may read it.
TEST(ConnectionSettingsRun, TheSettingsFileIsTheOwnersAloneWhenItHoldsAPassword) {
  const mode_t mask = ::umask(022);
  const struct {
    const char* name;
    Fields set;
    mode_t mode;
  } cases[] = {
      {"nothing set", {"", "", "", false}, 0644},
      {"an account and TLS only", {"", "zed", "", true}, 0644},
      {"a SASL password", {"", "zed", "hunter2", false}, 0600},
      {"a server password", {"srv pw", "", "", false}, 0600},
  };
  for (const auto& c : cases) {
    QTemporaryDir runDir;
    const QString file = runDir.filePath("ZORV.INI");
    {
      TMainForm run(runDir.path());
      run.connectionSettings->serverPassword = c.set.serverPassword;
      run.connectionSettings->account = c.set.account;
      run.connectionSettings->password = c.set.password;
      run.connectionSettings->tls = c.set.tls;
    }  // saves the settings
    EXPECT_EQ(testsupport::fileMode(file), static_cast<int>(c.mode)) << c.name;
    const std::pair<const char*, QString> saved[] = {{"ServerPassword", c.set.serverPassword},
                                                     {"Account", c.set.account},
                                                     {"Password", c.set.password},
                                                     {"TLS", c.set.tls ? "1" : "0"}};
    for (const auto& [key, value] : saved)
      EXPECT_EQ(zorv::readProfileString("User Info", key, "<none>", file), value) << c.name << " " << key;
    // The next run reads them back.
    TMainForm next(runDir.path());
    expectFields(*next.connectionSettings, c.set);
  }
  ::umask(mask);
}

// The one pass of a login through the real window: the lines on the wire in
// their order, and the password never shown.
TEST_F(AppTest, PasswordAndSaslLoginOnTheWire) {
  LoopbackServer server;
  form->connectionSettings->serverPassword = "letmein";
  form->connectionSettings->account = "zed";
  form->connectionSettings->password = "hunter2";
  const std::string encoded = "emVkAHplZABodW50ZXIy";  // "zed\0zed\0hunter2"
  const std::pair<std::string, std::string> steps[] = {
      // what the client sends next, then what the server answers
      {"PASS letmein\r\nCAP LS 302\r\nNICK Zed\r\nUSER Zed * * :Zed\r\n", ":srv CAP * LS :multi-prefix sasl=PLAIN\r\n"},
      {"CAP REQ :multi-prefix\r\nCAP REQ :sasl\r\n", ":srv CAP Zed ACK :multi-prefix\r\n:srv CAP Zed ACK :sasl\r\n"},
      {"AUTHENTICATE PLAIN\r\n", "AUTHENTICATE +\r\n"},
      {"AUTHENTICATE " + encoded + "\r\n",
       ":srv 900 Zed Zed!z@h zed :You are now logged in as zed\r\n:srv 903 Zed :SASL authentication successful\r\n"},
      {"CAP END\r\n", ":srv 001 Zed :Welcome to the net\r\n"}};
  form->nickField->setText("Zed");
  connectTo(server);
  std::string expected;
  for (const auto& [sent, reply] : steps) {
    expected += sent;
    ASSERT_TRUE(server.waitReceived(expected)) << "waiting for " << sent << "; got " << server.received();
    server.send(reply);
  }
  ASSERT_TRUE(waitFor([&] { return hasLine(*form, "Server", "Welcome to the net"); }));
  EXPECT_EQ(server.received(), expected);
  for (const std::string& line : linesOf(*form, "Server")) {
    EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
    EXPECT_EQ(line.find(encoded), std::string::npos) << line;
  }
  EXPECT_TRUE(hasLine(*form, "Server", "SASL authentication successful"));
}

}  // namespace
