#pragma once
#include <cstdint>

// Local ports of outgoing connections. The system picks a connection's port
// when it connects; with thousands of connections to one server it scans the
// whole ephemeral range for a free port, first the even ports and then the
// odd ones, so that once half the range is in use every further connect scans
// thousands of ports. Giving each socket a window of the range (round robin
// over the windows) keeps each scan short; the system still chooses the port
// inside the window, and a full window falls back to the whole range.

constexpr uint32_t LOCAL_PORT_WINDOW = 256;  // ports per window

struct LocalPortRange {
  uint32_t nLow = 0;
  uint32_t nHigh = 0;
};

// The system's ephemeral range from "low high" text (as in
// /proc/sys/net/ipv4/ip_local_port_range); {32768, 60999} when unreadable.
LocalPortRange ParseLocalPortRange(const char* text);

// Window k (taken modulo the number of whole windows) of range; the whole
// range when it holds fewer than two windows.
LocalPortRange LocalPortWindow(const LocalPortRange& range, uint32_t k);

// Gives fd, an unconnected TCP socket, the next window of the system range.
// Safe from any thread; does nothing where the system lacks per-socket ranges.
void SpreadLocalPort(int fd);

// Lets fd use the whole system range again (after its window was full).
void ClearLocalPortRange(int fd);
