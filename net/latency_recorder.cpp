#include "net/latency_recorder.h"

#include "platform/tick.h"

namespace {

struct Stripe {
  std::atomic<uint32_t> counts[LAT_BUCKETS];
};

Stripe g_stripes[LAT_KINDS][LATENCY_STRIPES];
std::atomic<uint32_t> g_nextStripe{0};

constexpr const char* kNames[LAT_KINDS] = {"connect", "login", "stream", "recovery"};

// Each thread's stripe, handed out round robin at its first time.
int32_t MyStripe() {
  thread_local int32_t stripe = static_cast<int32_t>(g_nextStripe.fetch_add(1, std::memory_order_relaxed) %
                                                     static_cast<uint32_t>(LATENCY_STRIPES));
  return stripe;
}

}  // namespace

const char* LatencyKindName(int32_t kind) { return kind >= 0 && kind < LAT_KINDS ? kNames[kind] : "?"; }

void RecordLatency(LatencyKind kind, uint64_t us) {
  if (kind < 0 || kind >= LAT_KINDS) return;
  g_stripes[kind][MyStripe()].counts[LatencyBucket(us)].fetch_add(1, std::memory_order_relaxed);
}

void RecordLatencySince(LatencyKind kind, uint32_t startUs) {
  RecordLatency(kind, static_cast<uint32_t>(GetMicroTicks() - startUs));
}

CLatencyHistogram LatencySnapshot(int32_t kind) {
  CLatencyHistogram h;
  if (kind < 0 || kind >= LAT_KINDS) return h;
  for (const Stripe& s : g_stripes[kind]) {
    for (int32_t i = 0; i < LAT_BUCKETS; ++i) {
      uint32_t n = s.counts[i].load(std::memory_order_relaxed);
      if (n != 0) h.Add(i, n);
    }
  }
  return h;
}
