#pragma once
#include <atomic>
#include <cstdint>

// What a device has sent and failed, read by the fleet's statistics and
// status texts while the device's threads count.
//
// Threads: every counter is safe from any thread. The uploads count on the
// driver thread, the connects on whichever thread opens the connection, the
// emergency alarm on the operator's.
struct DeviceCounters {
  std::atomic<int32_t> nGpsSent{0};
  // Alarm messages (speed, customised start and end, video lost, emergency)
  // that the socket accepted.
  std::atomic<int32_t> nAlarmsSent{0};
  std::atomic<int32_t> nKeepAlivesSent{0};
  // Opens of the signalling connection that failed at once (no address, no
  // room in the share table); each is retried like a refused connect.
  std::atomic<int32_t> nConnectFailures{0};
  // The number of the next customised alarm pair, and the one the device
  // started with: their difference is the pairs sent.
  std::atomic<uint32_t> nSosUidBase{0};
  std::atomic<uint32_t> nSosUid{0};
};
