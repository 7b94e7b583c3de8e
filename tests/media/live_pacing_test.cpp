#include <gtest/gtest.h>

#include "media/live_pacing.h"

namespace {

TEST(LivePacing, FirstChunkSetsTheBaseAndLaterChunksWaitForTheirTime) {
  LivePacing p;
  EXPECT_EQ(PaceVideoChunk(p, 1000, 50000), LIVE_PACE_SEND);
  EXPECT_EQ(p.nBaseTs, 1000u);
  EXPECT_EQ(p.dwBaseTick, 50000u);
  EXPECT_EQ(PaceVideoChunk(p, 1040, 50000), LIVE_PACE_EARLY);
  EXPECT_EQ(PaceVideoChunk(p, 1040, 50039), LIVE_PACE_EARLY);
  EXPECT_EQ(PaceVideoChunk(p, 1040, 50040), LIVE_PACE_SEND);  // due exactly
  EXPECT_EQ(PaceVideoChunk(p, 1080, 50200), LIVE_PACE_SEND);  // late
  EXPECT_EQ(p.nBaseTs, 1000u);                                // the base stays
}

TEST(LivePacing, JumpsOfThreeSecondsOrMoreAndBackwardStepsAreSentAtOnce) {
  LivePacing p;
  PaceVideoChunk(p, 1000, 0);
  EXPECT_EQ(PaceVideoChunk(p, 3999, 0), LIVE_PACE_EARLY);  // 2999 ms ahead
  EXPECT_EQ(PaceVideoChunk(p, 4000, 0), LIVE_PACE_SEND);   // 3000 ms ahead
  EXPECT_EQ(PaceVideoChunk(p, 500, 10), LIVE_PACE_SEND);   // back in time
}

TEST(LivePacing, ChunkWithTheBaseTimeStampClearsTheBase) {
  LivePacing p;
  PaceVideoChunk(p, 700, 100);
  EXPECT_EQ(PaceVideoChunk(p, 700, 100), LIVE_PACE_SEND);
  EXPECT_EQ(p.nBaseTs, 0u);
  EXPECT_EQ(PaceVideoChunk(p, 740, 100), LIVE_PACE_SEND);  // sets a new base
  EXPECT_EQ(p.nBaseTs, 740u);
}

TEST(LivePacing, ChunksWithoutTimeStampsAreNeverHeldBack) {
  LivePacing p;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(PaceVideoChunk(p, 0, 5), LIVE_PACE_SEND);
}

TEST(LivePacing, TickWrapAroundKeepsPacing) {
  LivePacing p;
  PaceVideoChunk(p, 40, 0xFFFFFFF0u);
  EXPECT_EQ(PaceVideoChunk(p, 80, 0xFFFFFFFFu), LIVE_PACE_EARLY);  // 15 ms passed, 40 needed
  EXPECT_EQ(PaceVideoChunk(p, 80, 0x00000020u), LIVE_PACE_SEND);   // 48 ms passed
}

}  // namespace
