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

// Typing the TLS port checks TLS; a box the user set stays as set.
TEST_F(AppTest, TypingTheTlsPortChecksTlsAndTheUserMayUncheckIt) {
  for (const auto& [port, checked] : {std::pair{"6667", false}, {"66970", false}, {"6697", true}}) {
    form->portField->clear();
    QTest::keyClicks(form->portField, port);
    EXPECT_EQ(form->tlsBox->isChecked(), checked) << port;
  }
  QTest::mouseClick(form->tlsBox, Qt::LeftButton);  // the user unchecks it: it stays so
  EXPECT_FALSE(form->tlsBox->isChecked());
  QTest::mouseClick(form->tlsBox, Qt::LeftButton);  // checked by the user: stays whatever port is typed
  form->portField->clear();
  QTest::keyClicks(form->portField, "7000");
  EXPECT_TRUE(form->tlsBox->isChecked());
}

// TLS on against a plain server: not a plain byte goes out, and a handshake
// that fails ends with one clear line and the connection closed.
TEST_F(AppTest, TlsOnAPlainServerSendsNoPlainByteAndReportsTheFailure) {
  LoopbackServer server;
  form->tlsBox->setChecked(true);
  form->serverField->setText("127.0.0.1");
  form->portField->setText(QString::number(server.port()));
  form->OnConnectClicked();
  ASSERT_TRUE(server.accept(5000));
  ASSERT_TRUE(waitFor([&] { server.poll(); return !server.received().empty(); }));
  EXPECT_EQ(static_cast<unsigned char>(server.received()[0]), 0x16);
  EXPECT_EQ(server.received().find("NICK"), std::string::npos);
  server.send("ERROR :plain text here\r\n");
  ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
  const auto lines = linesOf(*form, "Server");
  ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0].rfind("TLS handshake failed: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "Disconnected");
}

// Cancel on a changed certificate met by the reconnect stops reconnecting
// until the user presses Connect, and the line says why it was refused.
TEST_F(AppTest, CancelOnAChangedCertificateStopsTheReconnect) {
  static testsupport::TestPki pki;
  ASSERT_TRUE(pki.ok);
  // A certificate that verifies for the host, but not the one pinned.
  ::setenv("SSL_CERT_FILE", pki.path("ca.pem").c_str(), 1);
  tlstest::TlsServer tls(tlstest::Mode::Echo, pki.path("server.pem"), pki.path("server.key"));
  ASSERT_TRUE(zorv::writeProfileString("Certificates", QString("127.0.0.1:%1").arg(tls.port()),
                                        QString::fromStdString(kNew), form->SettingsFile()));
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
  EXPECT_EQ(std::vector<std::string>(std::find(lines.begin(), lines.end(), refused), lines.end()),
            (std::vector<std::string>{
                refused, "Disconnected",
                "Not reconnecting: the server's certificate was refused. Press Connect to try again."}));
  EXPECT_TRUE(asked == 1 && !form->session->Keeper().Waiting() && form->connectButton->isEnabled());
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
      {"pinned in lower case", "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", 18,
       zorv::CertChoice::Cancel, false, true, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
      {"changed, connect once is no way in", kNew.c_str(), 18, zorv::CertChoice::ConnectOnce, true, false,
       kNew.c_str()},
      {"changed, cancel", kNew.c_str(), 0, zorv::CertChoice::Cancel, true, false, kNew.c_str()},
      {"changed, trust the new one", kNew.c_str(), 18, zorv::CertChoice::AlwaysTrust, true, true, kFp.c_str()},
  };
  QTemporaryDir dir;
  const QString ini = dir.filePath("Zorv.ini");
  for (const PinRow& r : rows) {
    QFile::remove(ini);
    zorv::writeProfileString("User Info", "Nick", "Zed", ini);
    if (*r.stored) zorv::writeProfileString("Certificates", "irc.example.org:6697", r.stored, ini);
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
    zorv::setCertificatePrompt(old);
    EXPECT_EQ(std::pair(answer.accepted, answer.refusedByUser), std::pair(r.accepted, r.asked && !r.accepted))
        << r.name;
    ASSERT_EQ(texts.size(), r.asked ? 1u : 0u) << r.name;
    if (r.asked) {
      EXPECT_TRUE(texts[0].contains(QString::fromStdString(kFp)) && texts[0].contains("irc.example.org:6697"))
          << r.name;
      EXPECT_EQ(texts[0].contains("has changed"), *r.stored != '\0') << r.name;
      if (r.verify == 18) EXPECT_TRUE(texts[0].contains("self-signed") || *r.stored) << r.name;
    }
    zorv::ProfileFile f(ini);
    ASSERT_TRUE(f.load());
    EXPECT_EQ(f.value("Certificates", "irc.example.org:6697", ""), r.storedAfter) << r.name;
    EXPECT_EQ(f.value("User Info", "Nick", ""), "Zed") << r.name;
  }
}

struct Fields {
  QString serverPassword, account, password;
  bool tls;
};

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
      ConnectionDialog d(*run.connectionSettings, &run);  // what OK takes from the dialog
      EXPECT_EQ(d.EditPassword->echoMode(), QLineEdit::Password);
      EXPECT_EQ(d.EditServerPassword->echoMode(), QLineEdit::Password);
      d.EditServerPassword->setText(c.set.serverPassword);
      d.EditAccount->setText(c.set.account);
      d.EditPassword->setText(c.set.password);
      d.tlsBox->setChecked(c.set.tls);
      d.applyTo(*run.connectionSettings);
    }  // saves the settings
    EXPECT_EQ(testsupport::fileMode(file), static_cast<int>(c.mode)) << c.name;
    const std::pair<const char*, QString> saved[] = {{"ServerPassword", c.set.serverPassword},
                                                     {"Account", c.set.account},
                                                     {"Password", c.set.password},
                                                     {"TLS", c.set.tls ? "1" : "0"}};
    for (const auto& [key, value] : saved)
      EXPECT_EQ(zorv::readProfileString("User Info", key, "<none>", file), value) << c.name << " " << key;
    // The next run reads them back.
    TMainForm nextRun(runDir.path());
    const ConnectionSettings& next = *nextRun.connectionSettings;
    EXPECT_EQ(std::tie(next.serverPassword, next.account, next.password, next.tls),
              std::tie(c.set.serverPassword, c.set.account, c.set.password, c.set.tls)) << c.name;
  }
  ::umask(mask);
}

}  // namespace
