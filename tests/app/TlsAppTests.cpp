// Connecting securely and logging in: the TLS switch of the main window, the
// certificate prompt with its pins, the login settings and their dialog, the
// settings file kept private when it holds a password, and the login on the wire.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>

#include "../net/TlsTestPeer.h"
#include "AppFixture.h"
#include "CertificatePrompt.h"
#include "ConnectionDialog.h"
#include "ConnectionSettings.h"
#include "Profile.h"
#include "Session.h"
#include "TestPki.h"

using namespace apptest;
using testsupport::LoopbackServer;
using testsupport::waitFor;

namespace {

const std::string kFp = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
const std::string kNew = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

TEST_F(AppTest, TypingTheTlsPortChecksTlsAndTheUserMayUncheckIt) {
  EXPECT_FALSE(form->tlsBox->isChecked());
  const std::pair<const char*, bool> rows[] = {{"6667", false}, {"66970", false}, {"6697", true}};
  for (const auto& [port, checked] : rows) {
    form->tlsBox->setChecked(false);
    form->portField->clear();
    QTest::keyClicks(form->portField, port);
    EXPECT_EQ(form->tlsBox->isChecked(), checked) << port;
  }
  QTest::mouseClick(form->tlsBox, Qt::LeftButton);  // the user unchecks it: it stays so
  EXPECT_FALSE(form->tlsBox->isChecked());
  EXPECT_EQ(form->portField->text(), "6697");
  // A box the user checked stays checked whatever port is typed.
  QTest::mouseClick(form->tlsBox, Qt::LeftButton);
  form->portField->clear();
  QTest::keyClicks(form->portField, "7000");
  EXPECT_TRUE(form->tlsBox->isChecked());
}

// A TLS handshake that fails, or gets no answer within the time (15 s unless
// a test shortens it), ends with one clear line and the connection closed.
TEST_F(AppTest, TlsOnAPlainServerSendsNoPlainByteAndReportsTheFailure) {
  EXPECT_EQ(form->session->Socket().SslHandshakeTimeout(), 15000);
  const struct {
    const char* answer;  // what the plain server says ("" nothing)
    const char* shown;   // the line shown, from its start
  } cases[] = {
      {"ERROR :plain text here\r\n", "TLS handshake failed: "},
      {"", "TLS handshake failed: no answer from the server within 0.2 s (is this a plain-text port?)"},
  };
  form->tlsBox->setChecked(true);
  form->serverField->setText("127.0.0.1");
  form->session->Socket().SetSslHandshakeTimeout(200);
  for (const auto& c : cases) {
    LoopbackServer server;
    form->portField->setText(QString::number(server.port()));
    form->OnConnectClicked();
    ASSERT_TRUE(server.accept(5000));
    ASSERT_TRUE(waitFor([&] { server.poll(); return !server.received().empty(); }));
    EXPECT_EQ(static_cast<unsigned char>(server.received()[0]), 0x16);
    EXPECT_EQ(server.received().find("NICK"), std::string::npos);
    if (*c.answer) server.send(c.answer);
    ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
    const auto lines = linesOf(*form, "Server");
    ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0].rfind(c.shown, 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "Disconnected");
    window(*form, "Server")->CloseWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// Cancel on a changed certificate met by the reconnect stops reconnecting
// until the user presses Connect, and the line says why it was refused.
TEST_F(AppTest, CancelOnAChangedCertificateStopsTheReconnect) {
  static testsupport::TestPki pki;
  ASSERT_TRUE(pki.ok);
  // A certificate that verifies for the host, but not the one pinned.
  ::setenv("SSL_CERT_FILE", pki.path("ca.pem").c_str(), 1);
  tlstest::TlsServer tls(tlstest::Mode::Echo, pki.path("server.pem"), pki.path("server.key"));
  {
    zorv::ProfileFile f(form->SettingsFile());
    f.load();
    f.setValue("Certificates", QString("127.0.0.1:%1").arg(tls.port()), QString::fromStdString(kNew));
    ASSERT_TRUE(f.save());
  }
  int asked = 0;
  auto old = zorv::setCertificatePrompt([&](const QString&, const zorv::CertDecision&) {
    ++asked;
    return zorv::CertChoice::Cancel;
  });
  form->session->Keeper().SetTimeScale(20);
  form->session->Keeper().SetRandomSource([] { return 0u; });
  LoopbackServer server;
  connectTo(server);
  server.send(":srv 001 YourNick :Welcome here\r\n");
  ASSERT_TRUE(waitFor([&] { return hasLine(*form, "Server", "Welcome here"); }));
  server.closeClient();
  ASSERT_TRUE(waitFor([&] { return form->session->Keeper().Waiting(); }));
  // The server moves to its TLS port while Zorv waits.
  form->portField->setText(QString::number(tls.port()));
  form->tlsBox->setChecked(true);
  const std::string refused =
      "TLS handshake failed: certificate not accepted (the certificate has changed since it was trusted)";
  ASSERT_TRUE(waitFor([&] { return hasLine(*form, "Server", refused); }));
  ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
  const auto lines = linesOf(*form, "Server");
  const auto from = std::find(lines.begin(), lines.end(), refused);
  EXPECT_EQ(std::vector<std::string>(from, lines.end()),
            (std::vector<std::string>{refused, "Disconnected",
                                      "Not reconnecting: the server's certificate was refused. Press Connect to try again."}));
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(form->session->Keeper().Waiting());
  EXPECT_TRUE(form->connectButton->isEnabled());
  zorv::setCertificatePrompt(old);
  ::unsetenv("SSL_CERT_FILE");
}

// acceptCertificate over a settings file, with the prompt replaced.
TEST(CertificatePromptTest, PinsAndAnswers) {
  const struct PinRow {
    const char* name;
    const char* stored;  // pin in the file before ("" none)
    long verify;
    zorv::CertChoice answer;
    bool asked, accepted;
    const char* storedAfter;
  } rows[] = {
      {"trusted, no pin", "", 0, zorv::CertChoice::Cancel, false, true, ""},
      {"untrusted, connect once", "", 18, zorv::CertChoice::ConnectOnce, true, true, ""},
      {"untrusted, always", "", 18, zorv::CertChoice::AlwaysTrust, true, true, kFp.c_str()},
      {"untrusted, cancel", "", 18, zorv::CertChoice::Cancel, true, false, ""},
      {"pinned in lower case", "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", 18, zorv::CertChoice::Cancel, false, true,
       "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
      {"changed, connect once is no way in", kNew.c_str(), 18, zorv::CertChoice::ConnectOnce, true, false,
       kNew.c_str()},
      {"changed, cancel", kNew.c_str(), 0, zorv::CertChoice::Cancel, true, false, kNew.c_str()},
      {"changed, trust the new one", kNew.c_str(), 18, zorv::CertChoice::AlwaysTrust, true, true, kFp.c_str()},
  };
  QTemporaryDir dir;
  const QString ini = dir.filePath("Zorv.ini");
  for (const PinRow& r : rows) {
    QFile::remove(ini);
    {
      zorv::ProfileFile f(ini);
      f.load();
      f.setValue("User Info", "Nick", "Zed");
      if (*r.stored) f.setValue("Certificates", "irc.example.org:6697", r.stored);
      ASSERT_TRUE(f.save());
    }
    std::vector<QString> texts;
    auto old = zorv::setCertificatePrompt([&](const QString& server, const zorv::CertDecision& d) {
      texts.push_back(zorv::certificatePromptText(server, d));
      return r.answer;
    });
    TSslPeer peer;
    peer.Host = "irc.example.org";
    peer.Port = 6697;
    peer.VerifyResult = r.verify;
    peer.HostMatches = true;
    peer.Sha256 = kFp;
    const zorv::CertAnswer answer = zorv::acceptCertificate(peer, ini);
    EXPECT_EQ(answer.accepted, r.accepted) << r.name;
    EXPECT_EQ(answer.refusedByUser, r.asked && !r.accepted) << r.name;
    zorv::setCertificatePrompt(old);
    ASSERT_EQ(texts.size(), r.asked ? 1u : 0u) << r.name;
    if (r.asked) {
      EXPECT_TRUE(texts[0].contains(QString::fromStdString(kFp))) << r.name;
      EXPECT_TRUE(texts[0].contains("irc.example.org:6697")) << r.name;
      EXPECT_EQ(texts[0].contains("has changed"), *r.stored != '\0') << r.name;
      if (r.verify == 18) EXPECT_TRUE(texts[0].contains("self-signed") || *r.stored) << r.name;
    }
    zorv::ProfileFile f(ini);
    ASSERT_TRUE(f.load());
    EXPECT_EQ(f.value("Certificates", "irc.example.org:6697", ""), r.storedAfter) << r.name;
    EXPECT_EQ(f.value("User Info", "Nick", ""), "Zed") << r.name;
  }
}

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
      {"CAP REQ :sasl\r\n", ":srv CAP Zed ACK :sasl\r\n"},
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
