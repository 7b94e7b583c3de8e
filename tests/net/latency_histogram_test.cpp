// The latency histogram: every value from 10 µs to an hour comes back within
// 1 %, percentiles of a known spread land where they should, and counts merge
// exactly, across threads and across files.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "net/latency_figures.h"
#include "net/latency_histogram.h"
#include "net/latency_recorder.h"

namespace {

TEST(LatencyHistogramTest, ValuesAndPercentilesWithinOnePercent) {
  // Every bucket's middle lies within 1 % of every value it holds: the
  // bucket edges are the worst case.
  for (int32_t i = 10; i < LAT_BUCKETS; ++i) {
    double low = static_cast<double>(LatencyBucketLow(i));
    double high = low + static_cast<double>(LatencyBucketWidth(i)) - 1;
    ASSERT_EQ(LatencyBucket(LatencyBucketLow(i)), i);
    ASSERT_EQ(LatencyBucket(static_cast<uint64_t>(high)), i);
    ASSERT_LE(std::fabs(LatencyBucketMiddle(i) - low) / low, 0.01) << i;
    ASSERT_LE(std::fabs(LatencyBucketMiddle(i) - high) / high, 0.01) << i;
  }
  EXPECT_EQ(LatencyBucket(3600ull * 1000000u), LatencyBucket(3600ull * 1000000u - 1000));  // one hour is in range
  EXPECT_EQ(LatencyBucket(1ull << 40), LAT_BUCKETS - 1);  // past the range: the last bucket

  // 1 ms ... 1000 ms in 1 ms steps: p50 500 ms, p90 900 ms, p99 990 ms, max 1000 ms.
  CLatencyHistogram h;
  for (uint64_t ms = 1; ms <= 1000; ++ms) h.Record(ms * 1000);
  EXPECT_EQ(h.Count(), 1000u);
  EXPECT_NEAR(h.PercentileUs(0.5), 500e3, 5e3);
  EXPECT_NEAR(h.PercentileUs(0.9), 900e3, 9e3);
  EXPECT_NEAR(h.PercentileUs(0.99), 990e3, 9.9e3);
  EXPECT_NEAR(h.MaxUs(), 1000e3, 10e3);
  EXPECT_NEAR(h.SumUs(), 500500e3, 5005e3);
  EXPECT_EQ(CLatencyHistogram().PercentileUs(0.5), 0);
}

TEST(LatencyHistogramTest, CountsMergeExactlyAcrossThreadsAndFiles) {
  // Four threads record into the process-wide counters at once; the
  // snapshot's interval holds exactly what they recorded, bucket by bucket.
  CLatencyInterval interval;
  std::vector<std::thread> threads;
  std::vector<CLatencyHistogram> own(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &own] {
      std::mt19937_64 rnd(static_cast<uint64_t>(t) + 1);
      std::lognormal_distribution<double> us(9, 2);
      for (int i = 0; i < 20000; ++i) {
        uint64_t v = static_cast<uint64_t>(us(rnd));
        own[static_cast<size_t>(t)].Record(v);
        RecordLatency(LAT_STREAM, v);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  CLatencyHistogram all;
  for (const CLatencyHistogram& h : own) all.Merge(h);
  LatencySet measured = interval.Take();
  EXPECT_EQ(measured[LAT_STREAM].NonZero(), all.NonZero());
  EXPECT_EQ(interval.Take()[LAT_STREAM].Count(), 0u);  // the next interval starts empty

  // Two shards' bucket texts, read back by their smallest values and added,
  // give the same counts as one histogram of both.
  CLatencyHistogram merged;
  for (const CLatencyHistogram* shard : {&own[0], &own[1]}) {
    Json::Value buckets;
    ASSERT_TRUE(Json::Reader().parse(LatencyBucketsJson(*shard), buckets));
    for (const std::string& low : buckets.getMemberNames())
      merged.Add(LatencyBucketOfLow(std::stoull(low)), buckets[low].asUInt64());
  }
  CLatencyHistogram both = own[0];
  both.Merge(own[1]);
  EXPECT_EQ(merged.NonZero(), both.NonZero());
  EXPECT_EQ(merged.PercentileUs(0.99), both.PercentileUs(0.99));
}

}  // namespace
