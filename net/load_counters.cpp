#include "net/load_counters.h"

namespace {
std::atomic<uint32_t> g_failures[FAIL_KINDS];
std::atomic<uint32_t> g_messages[MSG_KINDS];

constexpr const char* kFailureNames[FAIL_KINDS] = {"connect_refused",  "connect_timeout", "login_unanswered",
                                                   "login_refused",    "connection_lost", "send_failed",
                                                   "media_setup_failed", "stream_dropped"};
constexpr const char* kMessageNames[MSG_KINDS] = {"logins", "keepalives", "gps", "alarms", "replies", "streams"};
}  // namespace

const char* LoadFailureName(int32_t kind) { return kind >= 0 && kind < FAIL_KINDS ? kFailureNames[kind] : "?"; }
const char* LoadMessageName(int32_t kind) { return kind >= 0 && kind < MSG_KINDS ? kMessageNames[kind] : "?"; }

void CountFailure(LoadFailure kind) { g_failures[kind].fetch_add(1, std::memory_order_relaxed); }
void CountMessage(LoadMessage kind) { g_messages[kind].fetch_add(1, std::memory_order_relaxed); }

uint32_t FailureCount(int32_t kind) {
  return kind >= 0 && kind < FAIL_KINDS ? g_failures[kind].load(std::memory_order_relaxed) : 0;
}

uint32_t MessageCount(int32_t kind) {
  return kind >= 0 && kind < MSG_KINDS ? g_messages[kind].load(std::memory_order_relaxed) : 0;
}

uint32_t FailureTotal() {
  uint32_t n = 0;
  for (int32_t k = 0; k < FAIL_KINDS; ++k) n += FailureCount(k);
  return n;
}
