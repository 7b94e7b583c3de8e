#include "net/traffic_counters.h"

std::atomic<uint64_t> gBytesSent{0};
std::atomic<uint32_t> gSlowPeerDrops{0};
