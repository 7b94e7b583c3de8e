#pragma once
#include <cstdint>
#include <string>

// What the system allows one process: its open-file limits and the
// ephemeral ports the kernel picks outgoing connections' ports from.
struct SystemLimits {
  uint64_t nOpenFilesSoft = 0;
  uint64_t nOpenFilesHard = 0;
  int32_t nPortLow = 0;   // ip_local_port_range; both 0 when unknown
  int32_t nPortHigh = 0;
};

// A fleet about to go online: how many devices will then be connected, from
// how many source addresses (1 when the system picks), to one server.
struct OnlinePlan {
  int64_t nDevices = 0;
  int32_t nSources = 1;
};

// Descriptors a process needs besides its devices' connections: the three
// files, standard streams, the share groups' epoll and wake-up descriptors,
// media streams, the metrics listener.
constexpr int64_t PREFLIGHT_FILE_RESERVE = 64;

// Raises the soft open-file limit to the hard one (once is enough) and reads
// the limits and the ephemeral port range.
SystemLimits RaiseAndReadLimits();

// True when plan fits; else false with a message that gives the figures and
// what to do instead (more source addresses, more shards, a higher limit).
// Checked: the share table (connections one process holds), the open-file
// limit, and the ephemeral ports per source address and server.
bool PreflightOnline(const OnlinePlan& plan, const SystemLimits& limits, std::string* why);
