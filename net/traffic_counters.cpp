#include "net/traffic_counters.h"

std::atomic<uint64_t> gBytesSent{0};
