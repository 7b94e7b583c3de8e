#include "net/latency_histogram.h"

#include <cmath>

namespace {
constexpr uint64_t kTop = 0xFFFFFFFFull;  // longer times count as this

int32_t HighBit(uint64_t v) { return 63 - __builtin_clzll(v); }
}  // namespace

int32_t LatencyBucket(uint64_t us) {
  if (us > kTop) us = kTop;
  if (us < static_cast<uint64_t>(LAT_LINEAR)) return static_cast<int32_t>(us);
  int32_t shift = HighBit(us) - 7;  // the top 8 bits of us pick the bucket
  int32_t sub = static_cast<int32_t>(us >> shift) - LAT_SUB;
  return LAT_LINEAR + (shift - 1) * LAT_SUB + sub;
}

uint64_t LatencyBucketLow(int32_t i) {
  if (i < LAT_LINEAR) return static_cast<uint64_t>(i < 0 ? 0 : i);
  int32_t shift = (i - LAT_LINEAR) / LAT_SUB + 1;
  uint64_t top8 = static_cast<uint64_t>((i - LAT_LINEAR) % LAT_SUB + LAT_SUB);
  return top8 << shift;
}

uint64_t LatencyBucketWidth(int32_t i) {
  if (i < LAT_LINEAR) return 1;
  return 1ull << ((i - LAT_LINEAR) / LAT_SUB + 1);
}

int32_t LatencyBucketOfLow(uint64_t low) {
  if (low > kTop) return -1;
  int32_t i = LatencyBucket(low);
  return LatencyBucketLow(i) == low ? i : -1;
}

double LatencyBucketMiddle(int32_t i) {
  if (i < LAT_LINEAR) return static_cast<double>(LatencyBucketLow(i));
  return static_cast<double>(LatencyBucketLow(i)) + static_cast<double>(LatencyBucketWidth(i)) / 2.0;
}

void CLatencyHistogram::Add(int32_t i, uint64_t n) {
  if (i >= 0 && i < LAT_BUCKETS) counts[static_cast<size_t>(i)] += n;
}

void CLatencyHistogram::Merge(const CLatencyHistogram& other) {
  for (size_t i = 0; i < counts.size(); ++i) counts[i] += other.counts[i];
}

CLatencyHistogram CLatencyHistogram::Since(const CLatencyHistogram& earlier) const {
  CLatencyHistogram d;
  for (size_t i = 0; i < counts.size(); ++i)
    d.counts[i] = counts[i] >= earlier.counts[i] ? counts[i] - earlier.counts[i] : 0;
  return d;
}

uint64_t CLatencyHistogram::Count() const {
  uint64_t n = 0;
  for (uint64_t c : counts) n += c;
  return n;
}

double CLatencyHistogram::PercentileUs(double q) const {
  uint64_t total = Count();
  if (total == 0) return 0;
  double wanted = std::ceil(q * static_cast<double>(total));
  uint64_t rank = wanted < 1 ? 1 : static_cast<uint64_t>(wanted);
  if (rank > total) rank = total;
  uint64_t seen = 0;
  for (int32_t i = 0; i < LAT_BUCKETS; ++i) {
    seen += counts[static_cast<size_t>(i)];
    if (seen >= rank) return LatencyBucketMiddle(i);
  }
  return MaxUs();
}

double CLatencyHistogram::MaxUs() const {
  for (int32_t i = LAT_BUCKETS - 1; i >= 0; --i)
    if (counts[static_cast<size_t>(i)] != 0) return LatencyBucketMiddle(i);
  return 0;
}

double CLatencyHistogram::SumUs() const {
  double sum = 0;
  for (int32_t i = 0; i < LAT_BUCKETS; ++i)
    if (counts[static_cast<size_t>(i)] != 0) sum += static_cast<double>(counts[static_cast<size_t>(i)]) * LatencyBucketMiddle(i);
  return sum;
}

uint64_t CLatencyHistogram::CountUpTo(double upperUs) const {
  uint64_t n = 0;
  for (int32_t i = 0; i < LAT_BUCKETS && LatencyBucketMiddle(i) <= upperUs; ++i) n += counts[static_cast<size_t>(i)];
  return n;
}

std::vector<std::pair<int32_t, uint64_t>> CLatencyHistogram::NonZero() const {
  std::vector<std::pair<int32_t, uint64_t>> out;
  for (int32_t i = 0; i < LAT_BUCKETS; ++i)
    if (counts[static_cast<size_t>(i)] != 0) out.emplace_back(i, counts[static_cast<size_t>(i)]);
  return out;
}

std::string LatencyBucketsJson(const CLatencyHistogram& h) {
  std::string out = "{";
  for (const auto& [i, n] : h.NonZero()) {
    if (out.size() > 1) out += ",";
    out += "\"" + std::to_string(LatencyBucketLow(i)) + "\":" + std::to_string(n);
  }
  return out + "}";
}
