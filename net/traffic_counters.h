#pragma once
#include <atomic>
#include <cstdint>

// Process-wide traffic statistics. The byte counter is 64 bits wide, unlike
// the 32-bit flags elsewhere: live streams pass 4 GiB within hours, and a
// statistic that wraps would read as nonsense. On the 64-bit targets we build
// for it is a single lock-free word.

// Bytes that sockets have accepted in CMySocket::Send since the process began.
extern std::atomic<uint64_t> gBytesSent;

// Adds n accepted bytes. Safe from any thread (one relaxed add).
inline void CountBytesSent(int64_t n) {
  if (n > 0) gBytesSent.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
}

// Bytes accepted so far. Safe from any thread.
inline uint64_t BytesSent() { return gBytesSent.load(std::memory_order_relaxed); }

// Connections dropped because their peer stopped reading while the output
// buffer filled up to its bound.
extern std::atomic<uint32_t> gSlowPeerDrops;
inline void CountSlowPeerDrop() { gSlowPeerDrops.fetch_add(1, std::memory_order_relaxed); }
inline uint32_t SlowPeerDrops() { return gSlowPeerDrops.load(std::memory_order_relaxed); }
