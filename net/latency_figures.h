#pragma once
#include <array>
#include <string>

#include "net/latency_histogram.h"
#include "net/latency_recorder.h"
#include "net/stats_report.h"

using LatencySet = std::array<CLatencyHistogram, LAT_KINDS>;

// Every kind's histogram since the process started.
LatencySet LatencySnapshotAll();

// The times of one interval for one reporter: each Take gives what was
// counted since the previous Take (since the reporter was made the first
// time). One thread at a time.
class CLatencyInterval {
 public:
  CLatencyInterval() : previous(LatencySnapshotAll()) {}
  LatencySet Take();

 private:
  LatencySet previous;
};

// Per kind: KIND_n, and KIND_ms_p50, _p90, _p99 and _max in milliseconds
// (absent when KIND_n is 0).
void AddLatencyFigures(StatFigures& f, const LatencySet& interval);
// ,"KIND_buckets":{"LOW":COUNT,...} per kind, for a JSON-lines row: the
// interval's counted buckets, which add up exactly across shards' files.
std::string LatencyBucketMembers(const LatencySet& interval);
// "  login     n=100 p50=110.2ms p90=... p95=... p99=... max=...\n" per kind
// (only "n=0" for a kind without events).
std::string LatencySummaryLines(const LatencySet& whole);
// Milliseconds as text: three significant decimals below 10 ms, one above.
std::string MsText(double ms);

// Prometheus histograms PREFIX + KIND + "_seconds" (_bucket, _sum, _count)
// over a coarse layout of about twenty bounds from 100 µs to one hour; a
// bucket takes the fine buckets whose middle is not above its bound, and the
// sum adds up the fine buckets' middles.
std::string PrometheusLatency(const LatencySet& whole, const std::string& prefix);
