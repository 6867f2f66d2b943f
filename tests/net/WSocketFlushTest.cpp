// Flush sends what is queued while the event loop runs, and gives up after
// FlushTimeout seconds when the peer takes nothing.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <memory>

#include "NetTestUtil.h"

using namespace nettest;

namespace {

// A listening component whose accepted session either reads everything
// (from its data handler, so only while events run) or reads nothing.
struct Receiver {
  TWSocket listener, session;
  std::string got;

  explicit Receiver(bool reads) {
    listener.OnSessionAvailable = [this, reads](TCustomWSocket* l, uint16_t) {
      const int fd = l->Accept();
      if (!reads) {
        int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
      }
      session.Dup(fd);
      if (!reads) session.Pause();
    };
    session.OnDataAvailable = [this](TCustomWSocket* s, uint16_t) {
      char buf[65536];
      const int n = s->Receive(buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    };
    setTarget(listener, "127.0.0.1", "0");
    listener.Listen();
  }
};

}  // namespace

TEST(WSocketFlush, SendsEverythingOrStopsAtItsTimeout) {
  const struct {
    const char* name;
    bool peerReads;
    int timeoutSeconds;
    bool emptied;
    int minMs;  // Flush waited at least this long
  } cases[] = {
      {"peer reads", true, 60, true, 0},
      {"peer reads nothing", false, 1, false, 1000},
      {"peer reads nothing, no time", false, 0, false, 0},
  };
  const std::string payload(512 * 1024, 'f');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Receiver r(c.peerReads);
    TWSocket s;
    setTarget(s, "127.0.0.1", r.listener.GetXPort());
    s.Connect();
    ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected && r.session.State() == wsConnected; }));
    int small = 4096;
    ::setsockopt(s.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    s.SendStr(payload);
    ASSERT_GT(s.BufferedByteCount(), 0) << "the platform cannot take it all at once";
    s.SetFlushTimeout(c.timeoutSeconds);
    QElapsedTimer t;
    t.start();
    s.Flush();
    EXPECT_GE(t.elapsed(), c.minMs);
    EXPECT_EQ(s.BufferedByteCount() == 0, c.emptied) << s.BufferedByteCount();
    EXPECT_EQ(s.State(), wsConnected);
    if (c.emptied) {
      ASSERT_TRUE(waitFor([&] { return r.got.size() == payload.size(); }));
      EXPECT_EQ(r.got, payload);
    }
  }
}
