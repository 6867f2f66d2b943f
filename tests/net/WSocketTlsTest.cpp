// The TLS layer of the socket component against a loopback OpenSSL server
// with certificates made by the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "CertTrust.h"
#include "NetTestUtil.h"
#include "TestPki.h"
#include "TlsTestPeer.h"

using namespace nettest;
using tlstest::Mode;
using tlstest::TlsServer;

namespace {

testsupport::TestPki& pki() {
  static testsupport::TestPki p;
  return p;
}

// Points the trust store at the test CA (or at a file that trusts nothing).
void trust(const char* pem) { ::setenv("SSL_CERT_FILE", pki().path(pem).c_str(), 1); }

struct TlsClient {
  TWSocket s;
  Recorder rec;
  std::vector<std::string> sslErrors;
  std::vector<TSslPeer> peers;
  explicit TlsClient(bool lineMode = true) {
    rec.attach(s);
    s.SetLineMode(lineMode);
    s.SetSslEnable(true);
    s.OnSslError = [this](TCustomWSocket*, const std::string& m) { sslErrors.push_back(m); };
  }
  void connect(int port) { connectTo(s, port); }
  bool closed() const { return rec.has("SessionClosed 0") || rec.has("SessionClosed 20100") ||
                               rec.has("SessionConnected 20100"); }
};

class TlsSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pki().ok) << "the openssl command line could not make the test certificates";
    trust("ca.pem");
  }
};

TEST_F(TlsSocket, HandshakeThenLinesBothWaysAndBytesSentEarlyWaitForIt) {
  TlsServer server(Mode::Echo, pki().path("server.pem"), pki().path("server.key"));
  TlsClient c;
  // A send made as soon as the descriptor is connected, before the handshake.
  c.s.OnChangeState = [&](TCustomWSocket* s, TSocketState, TSocketState n) {
    if (n == wsConnected) s->SendStr("EARLY\r\n");
  };
  c.connect(server.port());
  ASSERT_TRUE(waitFor([&] { return c.rec.has("SessionConnected 0"); }, 10000)) << ::testing::PrintToString(c.rec.events);
  EXPECT_TRUE(c.s.SslEstablished());
  EXPECT_EQ(server.firstByte(), 0x16);  // a TLS handshake record, never plain text
  c.s.SendStr("PING :zorv\r\n");
  ASSERT_TRUE(waitFor([&] { return c.rec.data.find("PING :zorv\r\n") != std::string::npos; }, 10000));
  EXPECT_EQ(c.rec.data, ":server NOTICE * :hello over TLS\r\nEARLY\r\nPING :zorv\r\n");
  EXPECT_EQ(server.received(), "EARLY\r\nPING :zorv\r\n");
  EXPECT_TRUE(c.sslErrors.empty());
}

TEST_F(TlsSocket, LargeSendArrivesWholeAndInOrderBothWays) {
  TlsServer server(Mode::Echo, pki().path("server.pem"), pki().path("server.key"));
  TlsClient c(/*lineMode=*/false);
  c.rec.chunk = 1000;  // the handler takes small pieces; the layer keeps the rest
  c.connect(server.port());
  ASSERT_TRUE(waitFor([&] { return c.rec.has("SessionConnected 0"); }, 10000));
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  EXPECT_EQ(c.s.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
  const std::string hello = ":server NOTICE * :hello over TLS\r\n";
  ASSERT_TRUE(waitFor([&] { return c.rec.data.size() >= hello.size() + big.size(); }, 60000))
      << c.rec.data.size();
  EXPECT_TRUE(server.received() == big);
  EXPECT_TRUE(c.rec.data == hello + big);
}

// Handshakes that cannot finish: each is reported through the error path
// and closes the session, without hanging.
struct FailCase {
  const char* name;
  Mode mode;
  int timeoutMs;
  const char* reasonPart;
};

class TlsHandshakeFailure : public TlsSocket, public ::testing::WithParamInterface<FailCase> {};

TEST_P(TlsHandshakeFailure, IsReportedAndCloses) {
  const FailCase& fc = GetParam();
  TlsServer server(fc.mode, pki().path("server.pem"), pki().path("server.key"));
  TlsClient c;
  c.s.SetSslHandshakeTimeout(fc.timeoutMs);
  c.connect(server.port());
  ASSERT_TRUE(waitFor([&] { return c.rec.has("SessionConnected 20100") && c.s.State() == wsClosed; }, 15000))
      << ::testing::PrintToString(c.rec.events);
  ASSERT_EQ(c.sslErrors.size(), 1u);
  EXPECT_EQ(c.sslErrors[0].rfind("TLS handshake failed: ", 0), 0u) << c.sslErrors[0];
  EXPECT_NE(c.sslErrors[0].find(fc.reasonPart), std::string::npos) << c.sslErrors[0];
  EXPECT_EQ(c.s.SslErrorText(), c.sslErrors[0]);
  EXPECT_FALSE(c.rec.has("SessionConnected 0"));
  EXPECT_EQ(c.rec.data, "");  // the plain server's line is never handed out as data
  EXPECT_EQ(server.firstByte(), 0x16);
  // Nothing goes out any more.
  EXPECT_NE(errorText([&] { c.s.SendStr("NICK zorv\r\n"); }).find("Socket is not connected"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsHandshakeFailure,
    ::testing::Values(FailCase{"CloseMidHandshake", Mode::CloseMidHandshake, 30000, "closed"},
                      FailCase{"PlainTextServer", Mode::PlainText, 30000, "wrong version number"},
                      FailCase{"SilentServer", Mode::Silent, 300,
                               "no answer from the server within 0.3 s (is this a plain-text port?)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The certificate decision wired to the socket, with pins for host:port.
struct TrustCase {
  const char* name;
  const char* cert;         // what the server presents
  const char* key;
  const char* trustFile;    // SSL_CERT_FILE
  const char* serverName;   // empty: the address
  const char* pinOf;        // pin the fingerprint of this file ("" none, "garbage": a bad pin)
  zorv::CertVerdict verdict;
  bool connects;
  bool handler = true;      // false: no verify handler, only a trusted chain for the host connects
};

class TlsTrust : public TlsSocket, public ::testing::WithParamInterface<TrustCase> {};

TEST_P(TlsTrust, DecisionDecidesTheSession) {
  const TrustCase& tc = GetParam();
  trust(tc.trustFile);
  TlsServer server(Mode::Echo, pki().path(tc.cert), pki().path(tc.key));
  TlsClient c;
  c.s.SetSslServerName(tc.serverName);
  std::optional<std::string> pin;
  if (std::string(tc.pinOf) == "garbage") pin = "not a fingerprint";
  else if (*tc.pinOf) pin = pki().fingerprint(tc.pinOf);
  std::vector<zorv::CertDecision> decisions;
  if (tc.handler) {
    c.s.OnSslVerify = [&](TCustomWSocket*, const TSslPeer& p, std::string&) {
      c.peers.push_back(p);
      decisions.push_back(zorv::DecideCertificate(p.VerifyResult, p.HostMatches, p.Sha256, pin));
      return decisions.back().Verdict == zorv::CertVerdict::Accept;
    };
  }
  c.connect(server.port());
  ASSERT_TRUE(waitFor([&] { return c.rec.has("SessionConnected 0") || c.rec.has("SessionConnected 20100"); },
                      10000));
  EXPECT_EQ(c.rec.has("SessionConnected 0"), tc.connects);
  if (!tc.handler) return;
  ASSERT_EQ(decisions.size(), 1u);
  EXPECT_EQ(decisions[0].Verdict, tc.verdict) << decisions[0].Reason;
  EXPECT_EQ(c.peers[0].Sha256, pki().fingerprint(tc.cert));
  EXPECT_EQ(c.peers[0].Port, server.port());
  if (!tc.connects) {
    ASSERT_EQ(c.sslErrors.size(), 1u);
    EXPECT_NE(c.sslErrors[0].find("certificate not accepted"), std::string::npos) << c.sslErrors[0];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsTrust,
    ::testing::Values(
        TrustCase{"TrustedChain", "server.pem", "server.key", "ca.pem", "", "", zorv::CertVerdict::Accept, true},
        TrustCase{"TrustedByName", "server.pem", "server.key", "ca.pem", "localhost", "", zorv::CertVerdict::Accept,
                  true},
        TrustCase{"WrongHost", "server.pem", "server.key", "ca.pem", "irc.example.org", "", zorv::CertVerdict::Ask,
                  false},
        TrustCase{"UntrustedAsks", "other.pem", "other.key", "ca.pem", "", "", zorv::CertVerdict::Ask, false},
        TrustCase{"UnknownCaAsks", "server.pem", "server.key", "empty.pem", "", "", zorv::CertVerdict::Ask, false},
        TrustCase{"PinnedAccepted", "other.pem", "other.key", "ca.pem", "", "other.pem", zorv::CertVerdict::Accept,
                  true},
        TrustCase{"PinChangedRefused", "other.pem", "other.key", "ca.pem", "", "server.pem",
                  zorv::CertVerdict::RefuseChanged, false},
        TrustCase{"BadPinAsks", "other.pem", "other.key", "ca.pem", "", "garbage", zorv::CertVerdict::Ask, false},
        TrustCase{"NoHandlerTrusted", "server.pem", "server.key", "ca.pem", "", "", {}, true, false},
        TrustCase{"NoHandlerWrongHost", "server.pem", "server.key", "ca.pem", "irc.example.org", "", {}, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
