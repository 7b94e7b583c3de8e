// Windows of the ephemeral port range handed to outgoing connections.
#include <gtest/gtest.h>

#include "net/local_ports.h"

namespace {

TEST(LocalPortsTest, RangeTextIsReadOrTheDefaultTaken) {
  LocalPortRange r = ParseLocalPortRange("32768\t60999\n");
  EXPECT_EQ(r.nLow, 32768u);
  EXPECT_EQ(r.nHigh, 60999u);
  for (const char* bad : {"", "garbage", "0 100", "5000 70000", "6000 5000", "1024"}) {
    LocalPortRange d = ParseLocalPortRange(bad);
    EXPECT_EQ(d.nLow, 32768u) << bad;
    EXPECT_EQ(d.nHigh, 60999u) << bad;
  }
  EXPECT_EQ(ParseLocalPortRange(nullptr).nLow, 32768u);
}

TEST(LocalPortsTest, WindowsCoverTheRangeRoundRobin) {
  LocalPortRange r{32768, 60999};  // 28232 ports: 110 whole windows
  LocalPortRange w0 = LocalPortWindow(r, 0);
  EXPECT_EQ(w0.nLow, 32768u);
  EXPECT_EQ(w0.nHigh, 32768u + LOCAL_PORT_WINDOW - 1);
  LocalPortRange last = LocalPortWindow(r, 109);
  EXPECT_EQ(last.nLow, 32768u + 109 * LOCAL_PORT_WINDOW);
  EXPECT_LE(last.nHigh, r.nHigh);
  LocalPortRange wrapped = LocalPortWindow(r, 110);
  EXPECT_EQ(wrapped.nLow, w0.nLow);
  // Consecutive windows neither overlap nor leave gaps.
  for (uint32_t k = 0; k + 1 < 110; ++k) EXPECT_EQ(LocalPortWindow(r, k).nHigh + 1, LocalPortWindow(r, k + 1).nLow);
}

TEST(LocalPortsTest, ASmallRangeIsUsedWhole) {
  LocalPortRange r{40000, 40300};  // one window and a bit
  for (uint32_t k : {0u, 1u, 7u}) {
    LocalPortRange w = LocalPortWindow(r, k);
    EXPECT_EQ(w.nLow, 40000u);
    EXPECT_EQ(w.nHigh, 40300u);
  }
}

}  // namespace
