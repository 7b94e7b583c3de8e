#include "device/stream_set.h"

#include <atomic>

namespace {
std::atomic<StreamSetMaker> g_maker{nullptr};
}  // namespace

void SetStreamSetMaker(StreamSetMaker maker) { g_maker.store(maker); }

StreamSetMaker GetStreamSetMaker() { return g_maker.load(); }
