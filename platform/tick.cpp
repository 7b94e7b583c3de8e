#include "platform/tick.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<uint32_t> g_offset{0};
}

uint32_t GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms) + g_offset.load(std::memory_order_relaxed);
}

void SetTickOffset(uint32_t offsetMs) { g_offset.store(offsetMs, std::memory_order_relaxed); }

void AdvanceTickCount(uint32_t ms) { g_offset.fetch_add(ms, std::memory_order_relaxed); }

uint32_t GetMicroTicks() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t us = static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
  return static_cast<uint32_t>(us);
}
