#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>

#include "platform/pub_call.h"
#include "platform/sleep.h"
#include "tests/support/debug_capture.h"

namespace {

std::atomic<int32_t> g_ran{0};
std::atomic<size_t> g_stack{0};

int RecordStack(void*) {
  pthread_attr_t attr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
  }
  g_stack.store(size);
  g_ran.fetch_add(1);
  return 0;
}

int SleepLong(void*) {
  SleepMs(300);
  return 0;
}

TEST(PubCallTest, ThreadGets512000ByteStackAndCanBeWaitedFor) {
  ThreadHandle h;
  ASSERT_EQ(CPubCall::StartThread(RecordStack, nullptr, &h), 0);
  EXPECT_EQ(h.bActive.load(), 1);
  EXPECT_TRUE(CPubCall::StopThread(&h, 5000));
  EXPECT_EQ(h.bActive.load(), 0);
  EXPECT_EQ(g_ran.load(), 1);
  EXPECT_GE(g_stack.load(), CPubCall::THREAD_STACK_SIZE);
  EXPECT_LT(g_stack.load(), CPubCall::THREAD_STACK_SIZE + 65536);
}

TEST(PubCallTest, StopThreadReportsAWaitThatRanOut) {
  ThreadHandle h;
  ASSERT_EQ(CPubCall::StartThread(SleepLong, nullptr, &h), 0);
  EXPECT_FALSE(CPubCall::StopThread(&h, 20));
  EXPECT_FALSE(h.bHasThread);
  SleepMs(400);  // the detached thread ends on its own
}

TEST(PubCallTest, StopThreadWithoutThreadIsHarmless) {
  ThreadHandle h;
  EXPECT_TRUE(CPubCall::StopThread(&h, 100));
}

}  // namespace
