#pragma once
#include <atomic>
#include <cstdint>

#include "net/latency_histogram.h"

// The times a load test measures of the server, process-wide, each kept as a
// histogram (latency_histogram.h):
enum LatencyKind : int32_t {
  LAT_CONNECT = 0,  // TCP connect started to connection up (signalling and media)
  LAT_LOGIN,        // CONNECT sent to the server's CONNECT answer
  LAT_STREAM,       // CREATESTREAM sent on a media connection to its answer
  LAT_RECOVERY,     // a login lost without the operator asking, to the next login
  LAT_KINDS
};

// "connect", "login", "stream", "recovery".
const char* LatencyKindName(int32_t kind);

// Counts one time of kind. The counts live in a few stripes of 32-bit atomic
// buckets; each thread adds to a stripe of its own (relaxed), so recording
// takes no lock and threads rarely share a cache line. The memory is fixed
// (LAT_KINDS x LATENCY_STRIPES x LAT_BUCKETS x 4 bytes) whatever the fleet's
// size or the run's length. Safe from any thread.
void RecordLatency(LatencyKind kind, uint64_t us);
// The same, for the 32-bit microsecond stamp startUs (GetMicroTicks) of the
// start of what ended now.
void RecordLatencySince(LatencyKind kind, uint32_t startUs);

// Every time of kind counted since the process started (all stripes added
// up). Safe from any thread; a snapshot taken while others record may miss
// what they add meanwhile, never count anything twice.
CLatencyHistogram LatencySnapshot(int32_t kind);

constexpr int32_t LATENCY_STRIPES = 4;
// Bytes the counting takes in all.
constexpr size_t LATENCY_MEMORY_BYTES =
    static_cast<size_t>(LAT_KINDS) * LATENCY_STRIPES * LAT_BUCKETS * sizeof(std::atomic<uint32_t>);
