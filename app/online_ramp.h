#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

class CDevQ5;

// Brings devices online at a steady rate instead of all at once: device i of
// a ramp connects i / rate seconds after the ramp began, on the ramp's own
// thread. A server under test then sees logins arrive evenly, the way a real
// fleet's would after a restart, instead of one burst.
//
// Every call, and the thread's connects, run under the owner's command lock
// (the mutex given at construction), so a device is never connected after the
// owner let it go: the owner calls Forget before taking a device offline or
// destroying it, and Stop before destroying the ramp's devices at the end.
class COnlineRamp {
 public:
  explicit COnlineRamp(std::mutex& commandLock) : cmdLock(commandLock) {}
  // Ends the thread; the owner must not hold the command lock then (it has
  // normally called Stop already).
  ~COnlineRamp();
  COnlineRamp(const COnlineRamp&) = delete;
  COnlineRamp& operator=(const COnlineRamp&) = delete;

  // Command lock held. Queues devs to connect (ConnectReg) at perSecond,
  // the first at once; devices still queued from an earlier ramp move to
  // this one. perSecond must be > 0.
  void Add(const std::vector<CDevQ5*>& devs, double perSecond);
  // Command lock held. Takes devs out of the queue.
  void Forget(const std::vector<CDevQ5*>& devs);
  // Command lock held through held (unlocked meanwhile): ends the thread and
  // drops what was still queued.
  void Stop(std::unique_lock<std::mutex>& held);
  // Devices queued and not yet connected; any thread.
  int32_t Pending() const { return nPending.load(std::memory_order_relaxed); }
  // Command lock held. Queued devices that are not in devs.
  int64_t PendingBesides(const std::unordered_set<const CDevQ5*>& devs) const;

 private:
  struct Due {
    std::chrono::steady_clock::time_point when;
    CDevQ5* pDevice;
  };
  void Run();
  void ConnectDue(std::chrono::steady_clock::time_point now);

  std::mutex& cmdLock;
  std::condition_variable wake;  // waited on with cmdLock
  std::deque<Due> queue;         // command lock; in order of when
  bool bStop = false;            // command lock
  std::thread thread;            // started by the first Add
  std::atomic<int32_t> nPending{0};
};
