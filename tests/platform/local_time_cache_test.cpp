// The clock readings and conversions that are kept per thread and second
// must give exactly what the system's calendar functions give.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/local_time.h"

namespace {

int64_t Mktime(const LocalTime& t) {
  tm parts{};
  parts.tm_year = t.nYear - 1900;
  parts.tm_mon = t.nMonth - 1;
  parts.tm_mday = t.nDay;
  parts.tm_hour = t.nHour;
  parts.tm_min = t.nMinute;
  parts.tm_sec = t.nSecond;
  parts.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&parts));
}

bool Same(const LocalTime& a, const LocalTime& b) {
  return a.nYear == b.nYear && a.nMonth == b.nMonth && a.nDay == b.nDay && a.nHour == b.nHour &&
         a.nMinute == b.nMinute && a.nSecond == b.nSecond;
}

TEST(LocalTimeCacheTest, EveryConversionMatchesMktimeWhateverCameBefore) {
  const LocalTime inputs[] = {
      {2024, 1, 2, 3, 4, 5},  {2024, 1, 2, 3, 4, 5},   {2024, 1, 2, 3, 4, 6}, {2024, 1, 2, 3, 4, 5},
      {2031, 12, 31, 23, 59, 59}, {2024, 7, 15, 12, 0, 0}, {2024, 7, 15, 12, 0, 0}, {1999, 3, 28, 2, 30, 0},
  };
  for (const LocalTime& t : inputs) EXPECT_EQ(LocalTimeToEpoch(t), Mktime(t));
}

TEST(LocalTimeCacheTest, ReadingsFollowTheClock) {
  for (int i = 0; i < 3; ++i) {
    time_t before = time(nullptr);
    LocalTime t = GetLocalTime();
    time_t after = time(nullptr);
    // The reading is the local time of a second between the two clock reads.
    bool matched = false;
    for (time_t s = before; s <= after && !matched; ++s) {
      tm parts{};
      localtime_r(&s, &parts);
      LocalTime expect{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                       parts.tm_sec};
      matched = Same(t, expect);
    }
    EXPECT_TRUE(matched);
    EXPECT_EQ(LocalTimeToEpoch(t), Mktime(t));
  }
}

}  // namespace
