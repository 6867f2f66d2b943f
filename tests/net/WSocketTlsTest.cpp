// The TLS layer of the socket component against a loopback OpenSSL server
// with certificates made by the test, and against plain peers that break the
// handshake.
#include <gtest/gtest.h>

#include <cstdlib>
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

// A TLS client socket that notes its events and error texts.
struct TlsClient {
  TWSocket s;
  Recorder r;
  V errors;
  TlsClient() {
    r.attach(s);
    s.SetSslEnable(true);
    s.OnSslError = [this](TCustomWSocket*, const std::string& m) { errors.push_back(m); };
  }
  bool connected(int port) {
    connectTo(s, port);
    return waitFor([&] { return r.has("SessionConnected 0") || r.has("SessionConnected 20100"); }, 10000) &&
           r.has("SessionConnected 0");
  }
};

class TlsSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pki().ok) << "the openssl command line could not make the test certificates";
    ::setenv("SSL_CERT_FILE", pki().path("ca.pem").c_str(), 1);
  }
};

// Bytes sent as soon as the descriptor is connected wait for the handshake;
// a large send arrives whole and in order both ways while the handler takes
// small pieces.
TEST_F(TlsSocket, SessionCarriesEverythingBothWays) {
  TlsServer server(Mode::Echo, pki().path("server.pem"), pki().path("server.key"));
  TlsClient c;
  c.s.OnChangeState = [&](TCustomWSocket* sock, TSocketState, TSocketState n) {
    if (n == wsConnected) sock->SendStr("EARLY\r\n");
  };
  c.r.chunk = 1000;
  ASSERT_TRUE(c.connected(server.port())) << ::testing::PrintToString(c.r.events);
  EXPECT_TRUE(c.s.SslEstablished());
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  EXPECT_EQ(c.s.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
  const std::string expected = ":server NOTICE * :hello over TLS\r\nEARLY\r\n" + big;
  ASSERT_TRUE(waitFor([&] { return c.r.data.size() >= expected.size(); }, 60000)) << c.r.data.size();
  EXPECT_TRUE(server.received() == "EARLY\r\n" + big);
  EXPECT_TRUE(c.r.data == expected);
  EXPECT_TRUE(c.errors.empty());
}

// Handshakes that cannot finish are reported through the error path and
// close the session, without hanging; the plain server's line is never data.
TEST_F(TlsSocket, BrokenHandshakesAreReportedAndClose) {
  const struct { int timeoutMs; const char* say; bool close; const char* reason; } cases[] = {
      {30000, "", true, "closed"},
      {30000, "ERROR :Closing Link: plain text only\r\n", false, "wrong version number"},
      {300, "", false, "no answer from the server within 0.3 s (is this a plain-text port?)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    Peer peer;
    TlsClient tc;
    auto& [t, r, errors] = tc;
    t.SetSslHandshakeTimeout(c.timeoutMs);
    connectTo(t, peer.port());
    ASSERT_TRUE(peer.accept());
    ASSERT_FALSE(peer.read(1).empty());
    EXPECT_EQ(peer.received()[0], 0x16);  // a TLS handshake record, never plain text
    if (*c.say) peer.send(c.say);
    if (c.close) peer.closeClient();
    ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 20100") && t.State() == wsClosed; }, 15000))
        << ::testing::PrintToString(r.events);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("TLS handshake failed: ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find(c.reason), std::string::npos) << errors[0];
    EXPECT_EQ(t.SslErrorText(), errors[0]);
    EXPECT_EQ(r.data, "");
    EXPECT_NE(errorText([&] { t.SendStr("NICK zorv\r\n"); }).find("Socket is not connected"), std::string::npos);
  }
}

// The certificate decision wired to the socket, with pins for host:port.
TEST_F(TlsSocket, TheDecisionDecidesTheSession) {
  using zorv::CertVerdict;
  const struct { const char* cert; const char* serverName; const char* pinOf; CertVerdict verdict; } cases[] = {
      {"server", "", "", CertVerdict::Accept},
      {"server", "localhost", "", CertVerdict::Accept},
      {"server", "irc.example.org", "", CertVerdict::Ask},
      {"other", "", "", CertVerdict::Ask},
      {"other", "", "other.pem", CertVerdict::Accept},
      {"other", "", "server.pem", CertVerdict::RefuseChanged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cert) + " " + c.serverName + " " + c.pinOf);
    const std::string cert = std::string(c.cert) + ".pem";
    TlsServer server(Mode::Echo, pki().path(cert.c_str()), pki().path((std::string(c.cert) + ".key").c_str()));
    TlsClient tc;
    auto& [t, r, errors] = tc;
    t.SetSslServerName(c.serverName);
    std::optional<std::string> pin;
    if (*c.pinOf) pin = pki().fingerprint(c.pinOf);
    std::vector<zorv::CertDecision> decisions;
    std::vector<TSslPeer> peers;
    t.OnSslVerify = [&](TCustomWSocket*, const TSslPeer& p, std::string&) {
      peers.push_back(p);
      decisions.push_back(zorv::DecideCertificate(p.VerifyResult, p.HostMatches, p.Sha256, pin));
      return decisions.back().Verdict == CertVerdict::Accept;
    };
    EXPECT_EQ(tc.connected(server.port()), c.verdict == CertVerdict::Accept);
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_EQ(decisions[0].Verdict, c.verdict) << decisions[0].Reason;
    EXPECT_EQ(peers[0].Sha256, pki().fingerprint(cert.c_str()));
    EXPECT_EQ(peers[0].Port, server.port());
    EXPECT_TRUE(c.verdict == CertVerdict::Accept ||
                (errors.size() == 1 && errors[0].find("certificate not accepted") != std::string::npos))
        << ::testing::PrintToString(errors);
  }
}

}  // namespace
