#include "net/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int LOOP_MAX_EVENTS = 256;
constexpr int LOOP_MAX_WAIT_MS = 1000;
thread_local const CEventLoop* t_running = nullptr;  // the loop this thread runs, if any
}  // namespace

bool CEventLoop::IsInLoopThread() const { return t_running == this; }

// While the loop runs, its descriptors and timers belong to its thread: a call
// from another thread would race with the loop's own use of them. Debug
// builds stop at once on such a call, naming it.
void CEventLoop::CheckLoopThread([[maybe_unused]] const char* what) const {
#ifndef NDEBUG
  if (bRunning.load(std::memory_order_relaxed) && !IsInLoopThread()) {
    fprintf(stderr, "CEventLoop::%s called off the loop thread\n", what);
    abort();
  }
#endif
}

CEventLoop::CEventLoop() {
  nEpoll = epoll_create1(EPOLL_CLOEXEC);
  nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (nEpoll < 0 || nWakeFd < 0) return;
  Watch(nWakeFd, EPOLLIN, [this](uint32_t) {
    uint64_t n = 0;
    while (read(nWakeFd, &n, sizeof n) > 0) {
    }
  });
}

CEventLoop::~CEventLoop() {
  if (nWakeFd >= 0) close(nWakeFd);
  if (nEpoll >= 0) close(nEpoll);
}

uint64_t CEventLoop::NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

bool CEventLoop::Watch(int fd, uint32_t events, FdCallback cb) {
  CheckLoopThread("Watch");
  if (fd < 0) return false;
  if (static_cast<size_t>(fd) >= watchers.size()) watchers.resize(static_cast<size_t>(fd) + 1);
  // A number still registered (its descriptor closed without Unwatch and the
  // number handed out again, possibly from inside its own callback): the old
  // registration goes as Unwatch would, its callback kept alive until the
  // pass ends, and its queued events become stale.
  if (watchers[static_cast<size_t>(fd)].bActive) Unwatch(fd);
  Watcher& w = watchers[static_cast<size_t>(fd)];
  uint32_t gen = w.nGen + 1;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = (static_cast<uint64_t>(gen) << 32) | static_cast<uint32_t>(fd);
  if (epoll_ctl(nEpoll, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  w.nGen = gen;
  w.bActive = true;
  w.cb = std::move(cb);
  return true;
}

bool CEventLoop::Modify(int fd, uint32_t events) {
  CheckLoopThread("Modify");
  if (fd < 0 || static_cast<size_t>(fd) >= watchers.size()) return false;
  Watcher& w = watchers[static_cast<size_t>(fd)];
  if (!w.bActive) return false;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = (static_cast<uint64_t>(w.nGen) << 32) | static_cast<uint32_t>(fd);
  return epoll_ctl(nEpoll, EPOLL_CTL_MOD, fd, &ev) == 0;
}

void CEventLoop::Unwatch(int fd) {
  CheckLoopThread("Unwatch");
  if (fd < 0 || static_cast<size_t>(fd) >= watchers.size()) return;
  Watcher& w = watchers[static_cast<size_t>(fd)];
  if (!w.bActive) return;
  epoll_ctl(nEpoll, EPOLL_CTL_DEL, fd, nullptr);
  w.bActive = false;
  w.nGen++;  // events of this pass still queued for fd are now stale
  // The callback may be the one running right now: keep it alive until the pass ends.
  retired.push_back(std::move(w.cb));
  w.cb = nullptr;
}

uint64_t CEventLoop::AddTimer(uint32_t delayMs, uint32_t periodMs, Task cb) {
  CheckLoopThread("AddTimer");
  uint64_t id = nNextTimerId++;
  Timer t;
  t.nDue = NowMs() + delayMs;
  t.nPeriod = periodMs;
  t.cb = std::move(cb);
  dueOrder.insert({t.nDue, id});
  timers.emplace(id, std::move(t));
  return id;
}

void CEventLoop::CancelTimer(uint64_t id) {
  CheckLoopThread("CancelTimer");
  auto it = timers.find(id);
  if (it == timers.end()) return;
  dueOrder.erase({it->second.nDue, id});
  timers.erase(it);
}

int CEventLoop::NextTimeoutMs() const {
  if (dueOrder.empty()) return LOOP_MAX_WAIT_MS;
  uint64_t now = NowMs();
  uint64_t due = dueOrder.begin()->first;
  if (due <= now) return 0;
  uint64_t wait = due - now;
  return wait > LOOP_MAX_WAIT_MS ? LOOP_MAX_WAIT_MS : static_cast<int>(wait);
}

void CEventLoop::RunDueTimers() {
  uint64_t now = NowMs();
  while (!dueOrder.empty() && dueOrder.begin()->first <= now) {
    uint64_t id = dueOrder.begin()->second;
    dueOrder.erase(dueOrder.begin());
    auto it = timers.find(id);
    if (it == timers.end()) continue;
    Task cb = it->second.cb;  // the callback may cancel its own timer
    if (it->second.nPeriod == 0) {
      timers.erase(it);
    } else {
      it->second.nDue = now + it->second.nPeriod;
      dueOrder.insert({it->second.nDue, id});
    }
    cb();
  }
}

void CEventLoop::RunPostedTasks() {
  std::vector<Task> batch;
  {
    std::lock_guard<std::mutex> lock(taskLock);
    batch.swap(tasks);
  }
  for (Task& t : batch) t();
}

void CEventLoop::Dispatch(uint64_t data, uint32_t events) {
  size_t fd = static_cast<uint32_t>(data);
  uint32_t gen = static_cast<uint32_t>(data >> 32);
  if (fd >= watchers.size()) return;
  Watcher& w = watchers[fd];
  if (!w.bActive || w.nGen != gen) return;
  w.cb(events);
}

void CEventLoop::Run() {
  const CEventLoop* outer = t_running;
  t_running = this;
  bRunning.store(1, std::memory_order_relaxed);
  epoll_event events[LOOP_MAX_EVENTS];
  while (!bQuit.load(std::memory_order_acquire)) {
    int n = epoll_wait(nEpoll, events, LOOP_MAX_EVENTS, NextTimeoutMs());
    for (int i = 0; i < n; i++) Dispatch(events[i].data.u64, events[i].events);
    retired.clear();
    RunDueTimers();
    RunPostedTasks();
    retired.clear();
  }
  {
    std::lock_guard<std::mutex> lock(taskLock);
    bFinished = true;
  }
  RunPostedTasks();
  bRunning.store(0, std::memory_order_relaxed);
  t_running = outer;
}

bool CEventLoop::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(taskLock);
    if (bFinished) return false;
    tasks.push_back(std::move(task));
  }
  uint64_t one = 1;
  ssize_t w = write(nWakeFd, &one, sizeof one);
  (void)w;  // a full counter still wakes the loop
  return true;
}

void CEventLoop::Quit() {
  bQuit.store(1, std::memory_order_release);
  uint64_t one = 1;
  ssize_t w = write(nWakeFd, &one, sizeof one);
  (void)w;
}
