#include "platform/stop_signals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

namespace kb::platform {
namespace {

// Waits for `stop` to be requested by the watching thread; a limit far beyond any busy
// machine's delay tells a stop that never comes.
bool StopArrives(const std::stop_source& stop) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!stop.stop_requested() && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return stop.stop_requested();
}

TEST(StopSignalsTest, TheFirstSignalRequestsAStopAndTheOldHandlingComesBack) {
  for (const int number : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    ASSERT_EQ(sigaction(number, nullptr, &before), 0);
    std::stop_source stop;
    {
      StopSignals signals(stop);
      EXPECT_EQ(signals.received(), 0);
      ASSERT_EQ(raise(number), 0);
      ASSERT_TRUE(StopArrives(stop));
      EXPECT_EQ(signals.received(), number);
      EXPECT_EQ(signals.ExitStatus(), number == SIGINT ? 130 : 143);
    }
    struct sigaction after {};
    ASSERT_EQ(sigaction(number, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
  }
}

TEST(StopSignalsTest, AnIgnoredSignalStaysIgnored) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGINT, &ignore, &before), 0);
  std::stop_source stop;
  {
    StopSignals signals(stop);
    ASSERT_EQ(raise(SIGINT), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(stop.stop_requested());
    EXPECT_EQ(signals.received(), 0);
  }
  ASSERT_EQ(sigaction(SIGINT, &before, nullptr), 0);
}

}  // namespace
}  // namespace kb::platform
