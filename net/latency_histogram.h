#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Time in microseconds kept as counts in log-linear buckets: values below 256
// each have a bucket of their own; above, every power of two is cut into 128
// buckets of equal width, so a value and its bucket's middle differ by at
// most 1/256 of the value (0.4 %), from 1 µs up to 2^32 µs (71 minutes;
// longer times land in the last bucket). The layout is fixed, so the counts of
// two histograms, of two threads or of two processes, add up exactly.
//
// A plain value: one thread at a time (the live counting lives in
// latency_recorder.h).

constexpr int32_t LAT_LINEAR = 256;  // values below this are counted exactly
constexpr int32_t LAT_SUB = 128;     // buckets per power of two above it
constexpr int32_t LAT_BUCKETS = LAT_LINEAR + 24 * LAT_SUB;  // up to 2^32 - 1 µs

// The bucket that holds us.
int32_t LatencyBucket(uint64_t us);
// The smallest value of bucket i, and its width.
uint64_t LatencyBucketLow(int32_t i);
uint64_t LatencyBucketWidth(int32_t i);
// The bucket of a smallest value (as written in files), -1 when no bucket
// starts there.
int32_t LatencyBucketOfLow(uint64_t low);

class CLatencyHistogram {
 public:
  CLatencyHistogram() : counts(LAT_BUCKETS, 0) {}

  void Record(uint64_t us, uint64_t n = 1) { Add(LatencyBucket(us), n); }
  // Adds n to bucket i (ignored when i is out of range).
  void Add(int32_t i, uint64_t n);
  // Adds every count of other.
  void Merge(const CLatencyHistogram& other);
  // The counts of this that are not in earlier (a later snapshot minus an
  // earlier one of the same counters: the interval between them).
  CLatencyHistogram Since(const CLatencyHistogram& earlier) const;

  uint64_t Count() const;
  // The value below which a share q (0 to 1) of the counts lie: the middle
  // of the bucket holding the ceil(q x count)-th value; 0 without counts.
  double PercentileUs(double q) const;
  // The middle of the highest bucket counted; 0 without counts.
  double MaxUs() const;
  // The sum of every count times its bucket's middle.
  double SumUs() const;
  // Counts of the values up to upperUs (buckets whose middle is not above it).
  uint64_t CountUpTo(double upperUs) const;
  // (bucket, count) of every bucket counted, lowest first.
  std::vector<std::pair<int32_t, uint64_t>> NonZero() const;
  uint64_t At(int32_t i) const { return i >= 0 && i < LAT_BUCKETS ? counts[static_cast<size_t>(i)] : 0; }

 private:
  std::vector<uint64_t> counts;
};

// The middle of bucket i in microseconds (the value itself below 256).
double LatencyBucketMiddle(int32_t i);

// {"LOW":COUNT,...} of the counted buckets, LOW each bucket's smallest value
// in microseconds: the form the stats file carries, which adds up exactly
// across files.
std::string LatencyBucketsJson(const CLatencyHistogram& h);
