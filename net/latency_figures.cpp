#include "net/latency_figures.h"

#include <cstdio>

namespace {

// Upper bounds of the served buckets, in seconds (+Inf follows).
constexpr double kPromBounds[] = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                  0.5,    1,       2.5,    5,     10,     30,    60,   300,   900,  3600};

double Ms(double us) { return us / 1000.0; }

std::string Bound(double sec) {
  char buf[32];
  snprintf(buf, sizeof buf, "%g", sec);
  return buf;
}

}  // namespace

LatencySet LatencySnapshotAll() {
  LatencySet s;
  for (int32_t k = 0; k < LAT_KINDS; ++k) s[static_cast<size_t>(k)] = LatencySnapshot(k);
  return s;
}

LatencySet CLatencyInterval::Take() {
  LatencySet now = LatencySnapshotAll();
  LatencySet interval;
  for (size_t k = 0; k < interval.size(); ++k) interval[k] = now[k].Since(previous[k]);
  previous = now;
  return interval;
}

std::string MsText(double ms) {
  char buf[32];
  snprintf(buf, sizeof buf, ms < 10 ? "%.3f" : "%.1f", ms);
  return buf;
}

void AddLatencyFigures(StatFigures& f, const LatencySet& interval) {
  for (int32_t k = 0; k < LAT_KINDS; ++k) {
    const CLatencyHistogram& h = interval[static_cast<size_t>(k)];
    std::string name = LatencyKindName(k);
    bool bHas = h.Count() != 0;
    AddLevel(f, name + "_n", "Times measured in the interval: " + name, static_cast<double>(h.Count()));
    const struct {
      const char* szSuffix;
      double q;
    } points[] = {{"_ms_p50", 0.5}, {"_ms_p90", 0.9}, {"_ms_p99", 0.99}, {"_ms_max", -1}};
    for (const auto& p : points) {
      double us = p.q < 0 ? h.MaxUs() : h.PercentileUs(p.q);
      AddMaybe(f, name + p.szSuffix, name + " time in ms", bHas, Ms(us), 3);
    }
  }
}

std::string LatencyBucketMembers(const LatencySet& interval) {
  std::string out;
  for (int32_t k = 0; k < LAT_KINDS; ++k)
    out += ",\"" + std::string(LatencyKindName(k)) + "_buckets\":" + LatencyBucketsJson(interval[static_cast<size_t>(k)]);
  return out;
}

std::string LatencySummaryLines(const LatencySet& whole) {
  std::string out;
  for (int32_t k = 0; k < LAT_KINDS; ++k) {
    const CLatencyHistogram& h = whole[static_cast<size_t>(k)];
    char head[48];
    snprintf(head, sizeof head, "  %-9s n=%llu", LatencyKindName(k), static_cast<unsigned long long>(h.Count()));
    out += head;
    if (h.Count() != 0) {
      out += " p50=" + MsText(Ms(h.PercentileUs(0.5))) + "ms p90=" + MsText(Ms(h.PercentileUs(0.9))) +
             "ms p95=" + MsText(Ms(h.PercentileUs(0.95))) + "ms p99=" + MsText(Ms(h.PercentileUs(0.99))) +
             "ms max=" + MsText(Ms(h.MaxUs())) + "ms";
    }
    out += "\n";
  }
  return out;
}

std::string PrometheusLatency(const LatencySet& whole, const std::string& prefix) {
  std::string out;
  for (int32_t k = 0; k < LAT_KINDS; ++k) {
    const CLatencyHistogram& h = whole[static_cast<size_t>(k)];
    std::string name = prefix + LatencyKindName(k) + "_seconds";
    out += "# HELP " + name + " " + LatencyKindName(k) + " times measured by the devices\n";
    out += "# TYPE " + name + " histogram\n";
    for (double b : kPromBounds)
      out += name + "_bucket{le=\"" + Bound(b) + "\"} " + std::to_string(h.CountUpTo(b * 1e6)) + "\n";
    out += name + "_bucket{le=\"+Inf\"} " + std::to_string(h.Count()) + "\n";
    char sum[40];
    snprintf(sum, sizeof sum, "%.6f", h.SumUs() / 1e6);
    out += name + "_sum " + sum + "\n";
    out += name + "_count " + std::to_string(h.Count()) + "\n";
  }
  return out;
}
