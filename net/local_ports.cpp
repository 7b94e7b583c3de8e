#include "net/local_ports.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>

#ifndef IP_LOCAL_PORT_RANGE
#define IP_LOCAL_PORT_RANGE 51
#endif

namespace {
constexpr LocalPortRange kDefaultRange{32768, 60999};

LocalPortRange SystemRange() {
  char text[64] = {};
  FILE* f = fopen("/proc/sys/net/ipv4/ip_local_port_range", "r");
  if (f) {
    size_t n = fread(text, 1, sizeof text - 1, f);
    text[n] = 0;
    fclose(f);
  }
  return ParseLocalPortRange(text);
}
}  // namespace

LocalPortRange ParseLocalPortRange(const char* text) {
  unsigned low = 0, high = 0;
  if (!text || sscanf(text, "%u %u", &low, &high) != 2 || low == 0 || high > 65535 || low > high)
    return kDefaultRange;
  return {low, high};
}

LocalPortRange LocalPortWindow(const LocalPortRange& range, uint32_t k) {
  uint32_t windows = (range.nHigh - range.nLow + 1) / LOCAL_PORT_WINDOW;
  if (windows < 2) return range;
  uint32_t low = range.nLow + (k % windows) * LOCAL_PORT_WINDOW;
  return {low, low + LOCAL_PORT_WINDOW - 1};
}

void SpreadLocalPort(int fd) {
  static const LocalPortRange system = SystemRange();
  static std::atomic<uint32_t> next{0};
  LocalPortRange w = LocalPortWindow(system, next.fetch_add(1, std::memory_order_relaxed));
  uint32_t value = w.nLow | (w.nHigh << 16);  // low bound in the low half, high bound in the high half
  setsockopt(fd, IPPROTO_IP, IP_LOCAL_PORT_RANGE, &value, sizeof value);
}

void ClearLocalPortRange(int fd) {
  uint32_t value = 0;
  setsockopt(fd, IPPROTO_IP, IP_LOCAL_PORT_RANGE, &value, sizeof value);
}
