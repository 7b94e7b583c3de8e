// The event loop on its own: a descriptor number reused from inside its own
// callback, a stale event after Unwatch and Watch in one pass, a periodic
// timer that cancels itself, and Post after Run has ended.
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "net/event_loop.h"

namespace {

void Signal(int fd) {
  uint64_t one = 1;
  ASSERT_EQ(write(fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
}

void Drain(int fd) {
  uint64_t n = 0;
  while (read(fd, &n, sizeof n) > 0) {
  }
}

// The callback closes its descriptor and watches a new one that gets the same
// number: the running callback (and what it holds) must outlive that Watch,
// and the new callback takes the new descriptor's events.
TEST(EventLoopTest, DescriptorReusedFromInsideItsOwnCallback) {
  CEventLoop loop;
  int a = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  int b = -1;
  int newCalls = 0;
  std::string heldByOld(200, 'x');  // copied into the callback: heap memory it owns
  ASSERT_TRUE(loop.Watch(a, EPOLLIN, [&, held = heldByOld](uint32_t) {
    close(a);
    b = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    EXPECT_EQ(b, a);  // the lowest free number: the one just closed
    EXPECT_TRUE(loop.Watch(b, EPOLLIN, [&](uint32_t) {
      Drain(b);
      ++newCalls;
      loop.Quit();
    }));
    EXPECT_EQ(held.size(), 200u);  // still alive after its replacement
    Signal(b);
  }));
  Signal(a);
  loop.AddTimer(5000, 0, [&] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(newCalls, 1);
  loop.Unwatch(b);
  close(b);
}

// A's callback takes B away, empties it and watches it again: B's event
// already queued in this pass belongs to the old registration and must reach
// nobody, so the new callback (B is empty) never runs.
TEST(EventLoopTest, StaleEventAfterUnwatchAndWatchInOnePass) {
  CEventLoop loop;
  int a = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  int b = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  int staleCalls = 0;
  ASSERT_TRUE(loop.Watch(b, EPOLLIN, [&](uint32_t) {}));  // first registration, never drains
  ASSERT_TRUE(loop.Watch(a, EPOLLIN, [&](uint32_t) {
    Drain(a);
    loop.Unwatch(b);
    Drain(b);
    loop.Watch(b, EPOLLIN, [&](uint32_t) { ++staleCalls; });
  }));
  Signal(a);  // ready first, so A's callback runs before B's queued event
  Signal(b);
  loop.AddTimer(100, 0, [&] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(staleCalls, 0);
  loop.Unwatch(a);
  loop.Unwatch(b);
  close(a);
  close(b);
}

TEST(EventLoopTest, PeriodicTimerCancelsItselfAndPostAfterRunIsRefused) {
  CEventLoop loop;
  int calls = 0;
  uint64_t id = 0;
  id = loop.AddTimer(1, 1, [&] {
    if (++calls == 3) loop.CancelTimer(id);
  });
  loop.AddTimer(200, 0, [&] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(calls, 3);
  int late = 0;
  EXPECT_FALSE(loop.Post([&] { ++late; }));
  EXPECT_EQ(late, 0);
}

#ifndef NDEBUG
// Debug builds: a loop-thread-only call from another thread while the loop
// runs stops the process and names the call.
TEST(EventLoopDeathTest, TimerAddedFromAnotherThreadWhileRunningStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        CEventLoop loop;
        loop.Post([&] {
          std::thread other([&] { loop.AddTimer(1, 0, [] {}); });
          other.join();
          loop.Quit();
        });
        loop.Run();
      },
      "AddTimer called off the loop thread");
}
#endif

}  // namespace
