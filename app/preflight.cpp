#include "app/preflight.h"

#include <sys/resource.h>

#include <cstdio>
#include <fstream>

#include "net/share_table.h"

SystemLimits RaiseAndReadLimits() {
  SystemLimits out;
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
    if (rl.rlim_cur < rl.rlim_max) {
      rlimit raised = rl;
      raised.rlim_cur = rl.rlim_max;
      if (setrlimit(RLIMIT_NOFILE, &raised) == 0) rl = raised;
    }
    out.nOpenFilesSoft = rl.rlim_cur;
    out.nOpenFilesHard = rl.rlim_max;
  }
  std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
  int32_t low = 0, high = 0;
  if (range >> low >> high && low > 0 && high >= low) {
    out.nPortLow = low;
    out.nPortHigh = high;
  }
  return out;
}

bool PreflightOnline(const OnlinePlan& plan, const SystemLimits& limits, std::string* why) {
  const int64_t tableMax = static_cast<int64_t>(SHARE_GROUPS) * SHARE_GROUP_SIZE;
  char text[400];
  if (plan.nDevices > tableMax) {
    snprintf(text, sizeof text,
             "%lld devices would be online, but one process holds at most %lld connections (%d groups of %d); "
             "run the fleet as shards (--shard I/N) of at most %lld devices each",
             static_cast<long long>(plan.nDevices), static_cast<long long>(tableMax), SHARE_GROUPS, SHARE_GROUP_SIZE,
             static_cast<long long>(tableMax));
    return *why = text, false;
  }
  int64_t files = plan.nDevices + PREFLIGHT_FILE_RESERVE;
  if (limits.nOpenFilesSoft > 0 && static_cast<uint64_t>(files) > limits.nOpenFilesSoft) {
    snprintf(text, sizeof text,
             "%lld devices need about %lld open files, but this process may open %llu (hard limit %llu); "
             "raise the limit (ulimit -n) or run the fleet as more shards",
             static_cast<long long>(plan.nDevices), static_cast<long long>(files),
             static_cast<unsigned long long>(limits.nOpenFilesSoft),
             static_cast<unsigned long long>(limits.nOpenFilesHard));
    return *why = text, false;
  }
  int64_t ports = limits.nPortHigh >= limits.nPortLow && limits.nPortLow > 0
                      ? static_cast<int64_t>(limits.nPortHigh) - limits.nPortLow + 1
                      : 0;
  int32_t sources = plan.nSources > 0 ? plan.nSources : 1;
  int64_t perSource = (plan.nDevices + sources - 1) / sources;
  if (ports > 0 && perSource > ports) {
    snprintf(text, sizeof text,
             "%lld devices from %d source address(es) to one server need %lld ports per address, but the system "
             "has %lld ephemeral ports (%d-%d); give more source addresses (--ifaddr) or run more shards on other "
             "addresses",
             static_cast<long long>(plan.nDevices), sources, static_cast<long long>(perSource),
             static_cast<long long>(ports), limits.nPortLow, limits.nPortHigh);
    return *why = text, false;
  }
  return true;
}
