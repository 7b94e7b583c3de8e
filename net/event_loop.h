#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

// A single-threaded epoll reactor: descriptors with callbacks, one-shot and
// periodic timers, and tasks that other threads hand to the loop thread
// through an eventfd. It serves zel-server and every share group of client
// sockets. Nothing that runs on the loop thread may sleep or wait: a pause is
// a timer, a write the kernel will not take now waits in its connection's
// output buffer. Everything but Post, Quit and IsInLoopThread runs on the loop
// thread (or, before Run starts, on the thread that sets the loop up); debug
// builds abort on a call from elsewhere while the loop runs.
class CEventLoop {
 public:
  using FdCallback = std::function<void(uint32_t events)>;
  using Task = std::function<void()>;

  CEventLoop();
  ~CEventLoop();
  CEventLoop(const CEventLoop&) = delete;
  CEventLoop& operator=(const CEventLoop&) = delete;

  // False when epoll or the wake-up descriptor could not be created.
  bool Ok() const { return nEpoll >= 0 && nWakeFd >= 0; }

  // Loop thread. Starts watching fd for events (EPOLLIN, EPOLLOUT ...), level
  // triggered. The callback may unwatch or close any descriptor, its own included.
  bool Watch(int fd, uint32_t events, FdCallback cb);
  bool Modify(int fd, uint32_t events);
  void Unwatch(int fd);

  // Loop thread. Runs cb after delayMs, then every periodMs (0: once). Ids are never 0.
  uint64_t AddTimer(uint32_t delayMs, uint32_t periodMs, Task cb);
  void CancelTimer(uint64_t id);

  // Runs until Quit; tasks posted before the end are run before it returns.
  void Run();

  // Safe from any thread (and from a signal-free context only). Queues task for
  // the loop thread; false when the loop has already finished its Run.
  bool Post(Task task);
  // Safe from any thread: makes Run return after its current pass.
  void Quit();
  // Safe from any thread: true when called from inside this loop's Run.
  bool IsInLoopThread() const;

  // Milliseconds of CLOCK_MONOTONIC (not the device tick, which tests shift).
  static uint64_t NowMs();

 private:
  struct Watcher {
    uint32_t nGen = 0;
    bool bActive = false;
    FdCallback cb;
  };
  struct Timer {
    uint64_t nDue = 0;
    uint32_t nPeriod = 0;
    Task cb;
  };

  void CheckLoopThread(const char* what) const;
  int NextTimeoutMs() const;
  void RunDueTimers();
  void RunPostedTasks();
  void Dispatch(uint64_t data, uint32_t events);

  int nEpoll = -1;
  int nWakeFd = -1;
  std::atomic<int32_t> bQuit{0};
  std::atomic<int32_t> bRunning{0};     // between the start and the end of Run
  // Indexed by descriptor; a deque so that growing it (a callback watching a
  // new descriptor) never moves the callback that is running.
  std::deque<Watcher> watchers;
  std::vector<FdCallback> retired;      // callbacks unwatched during a pass
  std::map<uint64_t, Timer> timers;     // by id
  std::set<std::pair<uint64_t, uint64_t>> dueOrder;  // (due, id)
  uint64_t nNextTimerId = 1;
  std::mutex taskLock;
  std::vector<Task> tasks;              // guarded by taskLock
  bool bFinished = false;               // guarded by taskLock
};
