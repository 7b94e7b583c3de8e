#include <gtest/gtest.h>

#include "platform/local_time.h"
#include "platform/tick.h"

namespace {

TEST(TickTest, OffsetMovesTheCountWithoutWaiting) {
  uint32_t before = GetTickCount();
  AdvanceTickCount(15001);
  uint32_t after = GetTickCount();
  EXPECT_GE(static_cast<uint32_t>(after - before), 15001u);
  EXPECT_LT(static_cast<uint32_t>(after - before), 15001u + 5000u);
  SetTickOffset(0);
}

TEST(TickTest, PeriodDueUsesSignedDifference) {
  EXPECT_FALSE(PeriodDue(1000, 0, 1000));
  EXPECT_TRUE(PeriodDue(1001, 0, 1000));
  // A wrap from 4294967295 to 0 alone makes nothing due.
  EXPECT_FALSE(PeriodDue(5, 4294967295u, 10000));
  // A stamp more than 2^31 ms in the past (negative difference) is due.
  EXPECT_TRUE(PeriodDue(0x80000001u, 0, 10000));
  // A stamp later than now (written by another thread) is due at once.
  EXPECT_TRUE(PeriodDue(100, 200, 15000));
  // A zero or negative period is due at every tick that is not the stamp itself or earlier.
  EXPECT_TRUE(PeriodDue(1, 0, 0));
  EXPECT_TRUE(PeriodDue(0, 0, -1000));
}

TEST(TickTest, WrapAroundThroughTheOffset) {
  uint32_t now = GetTickCount();
  SetTickOffset(0xFFFFFFFFu - now - 10);  // 10 ms before the wrap
  uint32_t stamp = GetTickCount();
  AdvanceTickCount(20);
  uint32_t later = GetTickCount();
  EXPECT_LT(later, stamp);  // wrapped
  EXPECT_FALSE(PeriodDue(later, stamp, 1000));
  SetTickOffset(0);
}

TEST(LocalTimeTest, TimeTextHas14DigitsAndEpochMatchesMktime) {
  LocalTime t{2024, 1, 2, 3, 4, 5};
  char text[16];
  FormatTimeText(t, text, sizeof text);
  EXPECT_STREQ(text, "20240102030405");
  LocalTime next = t;
  next.nSecond += 1;
  EXPECT_EQ(LocalTimeToEpoch(next) - LocalTimeToEpoch(t), 1);
}

}  // namespace
