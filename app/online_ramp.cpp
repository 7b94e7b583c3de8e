#include "app/online_ramp.h"

#include <algorithm>
#include <unordered_set>

#include "device/dev_q5.h"

COnlineRamp::~COnlineRamp() {
  if (!thread.joinable()) return;
  {
    std::lock_guard<std::mutex> held(cmdLock);
    bStop = true;
  }
  wake.notify_one();
  thread.join();
}

void COnlineRamp::Add(const std::vector<CDevQ5*>& devs, double perSecond) {
  if (devs.empty() || perSecond <= 0 || bStop) return;
  Forget(devs);
  auto start = std::chrono::steady_clock::now();
  std::vector<Due> fresh;
  fresh.reserve(devs.size());
  for (size_t i = 0; i < devs.size(); ++i) {
    auto offset = std::chrono::duration<double>(static_cast<double>(i) / perSecond);
    fresh.push_back({start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(offset), devs[i]});
  }
  // Merged by time with what an earlier ramp still has queued.
  std::deque<Due> merged;
  std::merge(queue.begin(), queue.end(), fresh.begin(), fresh.end(), std::back_inserter(merged),
             [](const Due& a, const Due& b) { return a.when < b.when; });
  queue.swap(merged);
  nPending.store(static_cast<int32_t>(queue.size()), std::memory_order_relaxed);
  if (!thread.joinable()) thread = std::thread([this] { Run(); });
  wake.notify_one();
}

void COnlineRamp::Forget(const std::vector<CDevQ5*>& devs) {
  if (queue.empty() || devs.empty()) return;
  std::unordered_set<CDevQ5*> gone(devs.begin(), devs.end());
  std::erase_if(queue, [&](const Due& d) { return gone.count(d.pDevice) != 0; });
  nPending.store(static_cast<int32_t>(queue.size()), std::memory_order_relaxed);
}

int64_t COnlineRamp::PendingBesides(const std::unordered_set<const CDevQ5*>& devs) const {
  int64_t n = 0;
  for (const Due& d : queue) n += devs.count(d.pDevice) == 0;
  return n;
}

void COnlineRamp::Stop(std::unique_lock<std::mutex>& held) {
  bStop = true;
  queue.clear();
  nPending.store(0, std::memory_order_relaxed);
  wake.notify_one();
  if (!thread.joinable()) return;
  held.unlock();  // the thread needs the lock to see bStop
  thread.join();
  held.lock();
}

void COnlineRamp::Run() {
  std::unique_lock<std::mutex> held(cmdLock);
  while (!bStop) {
    if (queue.empty()) {
      wake.wait(held);
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    if (queue.front().when > now) {
      wake.wait_until(held, queue.front().when);
      continue;
    }
    ConnectDue(now);
  }
}

void COnlineRamp::ConnectDue(std::chrono::steady_clock::time_point now) {
  while (!queue.empty() && queue.front().when <= now) {
    CDevQ5* dev = queue.front().pDevice;
    queue.pop_front();
    dev->ConnectReg();
  }
  nPending.store(static_cast<int32_t>(queue.size()), std::memory_order_relaxed);
}
