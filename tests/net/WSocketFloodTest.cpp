// A peer that sends faster than the handler takes its bytes must not freeze
// the event loop: read notifications yield, other events get their turn, and
// every byte still arrives in order.
#include <gtest/gtest.h>

#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "NetTestUtil.h"

TEST(WSocketFlood, ReadingYieldsToOtherEventsAndLosesNothing) {
  testsupport::LoopbackServer server;
  TWSocket sock;
  std::string got;
  sock.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    char buf[1023];
    const int n = s->Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    // A handler with real work to do per line: slower than loopback can send.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
    while (std::chrono::steady_clock::now() < until) {
    }
  };
  sock.SetAddr("127.0.0.1");
  sock.SetPort(std::to_string(server.port()));
  sock.Connect();
  ASSERT_TRUE(server.accept(5000));
  ASSERT_TRUE(testsupport::waitFor([&] { return sock.State() == wsConnected; }));

  // The peer writes numbered bytes until the timer has fired, or for 5 s.
  std::atomic<bool> timerFired{false};
  std::atomic<bool> senderTimedOut{false};
  std::atomic<size_t> sent{0};
  std::thread sender([&] {
    std::string chunk(16384, '\0');
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!timerFired) {
      if (std::chrono::steady_clock::now() > deadline) {
        senderTimedOut = true;
        break;
      }
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((sent + i) % 251);
      server.send(chunk);
      sent += chunk.size();
    }
  });
  // Let the flood build up first, then ask for a timer event.
  ASSERT_TRUE(testsupport::waitFor([&] { return got.size() > 100000; }, 5000));
  QTimer::singleShot(0, [&] { timerFired = true; });
  testsupport::waitFor([&] { return timerFired.load(); }, 6000);
  sender.join();
  EXPECT_TRUE(timerFired);
  EXPECT_FALSE(senderTimedOut) << "the timer only ran once the peer had stopped";

  ASSERT_TRUE(testsupport::waitFor([&] { return got.size() == sent; }, 10000));
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i] != static_cast<char>(i % 251)) {
      FAIL() << "byte " << i << " out of order";
      break;
    }
  }
}
