#include "net/share_table.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <memory>
#include <mutex>

#include "net/my_socket.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"

namespace {

// What a group's epoll set holds for one slot: the descriptor, the events
// asked for and which registration of which opening it belongs to.
struct EpollEntry {
  int fd = -1;
  uint32_t events = 0;
  uint32_t fill = 0;
  uint32_t serial = 0;
};

constexpr uint64_t kWakeMark = SHARE_GROUP_SIZE;  // epoll data of the wake-up descriptor

// One group of up to 64 connect-mode sockets and the thread serving them.
// The lock guards the slots, the counters and the started flag, so that the
// thread's ending and a concurrent registration never leave a socket unserved.
struct ShareGroup {
  std::mutex lock;
  std::condition_variable released;  // signalled whenever a slot is emptied
  int32_t bStarted = 0;
  CMySocket* slots[SHARE_GROUP_SIZE] = {};
  int32_t errors[SHARE_GROUP_SIZE] = {};
  // Advanced each time a slot is filled, so that a pass can tell its own
  // registration from a later one of a socket at the same address.
  uint32_t fills[SHARE_GROUP_SIZE] = {};
  int wakeFd = -1;
  // The group's epoll set (made with wakeFd, kept for the life of the
  // process) and what it holds per slot. Only the group's thread changes them,
  // under the lock; a thread that starts later finds them as the last left them.
  int epollFd = -1;
  EpollEntry entries[SHARE_GROUP_SIZE];
};

// Never destroyed: share threads may still be finishing their last pass while
// the process exits, and must not find their group's lock torn down.
ShareGroup* const g_groups = new ShareGroup[SHARE_GROUPS];
std::atomic<int32_t> g_threadCount{0};
thread_local int32_t t_ownGroup = -1;

void Wake(ShareGroup& g) {
  if (g.wakeFd < 0) return;
  uint64_t one = 1;
  ssize_t n = write(g.wakeFd, &one, sizeof one);
  (void)n;
}

// Sockets of one pass, gathered under the group lock.
struct PassSet {
  int count = 0;
  pollfd fds[SHARE_GROUP_SIZE + 1];
  CMySocket* socks[SHARE_GROUP_SIZE];
  uint32_t serial[SHARE_GROUP_SIZE];
  uint32_t fill[SHARE_GROUP_SIZE];
  int slot[SHARE_GROUP_SIZE];
  int entryOf[SHARE_GROUP_SIZE];  // slot -> index in this pass, -1 when not gathered
};

// True while slot still holds the registration that the pass gathered. A
// callback earlier in the pass may have closed, reopened or destroyed the
// socket; only then may the pass touch it.
bool StillHeld(ShareGroup& g, int slot, CMySocket* s, uint32_t fill) {
  std::lock_guard<std::mutex> lock(g.lock);
  return g.slots[slot] == s && g.fills[slot] == fill;
}

// The epoll entry goes before bStopped is set: once the owner sees the socket
// released it may close the descriptor and its number may be reused at once.
void ReleaseSlotLocked(ShareGroup& g, int i) {
  CMySocket* s = g.slots[i];
  if (g.entries[i].fd >= 0) {
    epoll_ctl(g.epollFd, EPOLL_CTL_DEL, g.entries[i].fd, nullptr);
    g.entries[i] = EpollEntry{};
  }
  g.slots[i] = nullptr;
  g.errors[i] = 0;
  s->nShareGroup.store(-1);
  s->bStopped.store(1);
  g.released.notify_all();
}

uint32_t EpollEvents(short pollEvents) { return (pollEvents & POLLIN) ? EPOLLIN : EPOLLOUT; }

// Brings the epoll set in line with the pass (group lock held). Entries whose
// socket, registration or opening changed are removed before any is added:
// the kernel drops a closed descriptor by itself, and its number may already
// belong to a socket that this pass adds, which a late removal would cut off.
void SyncEpoll(ShareGroup& g, const PassSet& set) {
  EpollEntry want[SHARE_GROUP_SIZE];
  for (int k = 0; k < set.count; ++k) {
    if (set.fds[k].fd < 0) continue;
    want[set.slot[k]] = EpollEntry{set.fds[k].fd, EpollEvents(set.fds[k].events), set.fill[k], set.serial[k]};
  }
  for (int i = 0; i < SHARE_GROUP_SIZE; ++i) {
    EpollEntry& e = g.entries[i];
    if (e.fd < 0 || (e.fd == want[i].fd && e.fill == want[i].fill && e.serial == want[i].serial)) continue;
    epoll_ctl(g.epollFd, EPOLL_CTL_DEL, e.fd, nullptr);  // ENOENT when the kernel dropped it already
    e = EpollEntry{};
  }
  for (int i = 0; i < SHARE_GROUP_SIZE; ++i) {
    EpollEntry& e = g.entries[i];
    if (want[i].fd < 0 || (e.fd >= 0 && e.events == want[i].events)) continue;
    epoll_event ev{};
    ev.events = want[i].events;
    ev.data.u64 = static_cast<uint64_t>(i);
    int op = e.fd >= 0 ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ctl(g.epollFd, op, want[i].fd, &ev) != 0 &&
        (errno != EEXIST || epoll_ctl(g.epollFd, EPOLL_CTL_MOD, want[i].fd, &ev) != 0)) {
      e = EpollEntry{};  // closed under us: the next pass sees the socket's new state
      continue;
    }
    e = want[i];
  }
}

// Releases sockets their owners stopped and gathers the rest. False when the
// group is empty: the thread then ends (the started flag is cleared under the
// same lock that registration takes).
bool GatherPass(ShareGroup& g, PassSet& set) {
  std::lock_guard<std::mutex> lock(g.lock);
  set.count = 0;
  for (int i = 0; i < SHARE_GROUP_SIZE; ++i) {
    set.entryOf[i] = -1;
    CMySocket* s = g.slots[i];
    if (!s) continue;
    int fd = s->hSocket.load();
    if (!s->bRunning.load() || fd < 0) {
      ReleaseSlotLocked(g, i);
      continue;
    }
    pollfd& p = set.fds[set.count];
    p.revents = 0;
    if (s->bConnectFailed) {
      p.fd = -1;  // a failed attempt stays unserved until its owner closes it
      p.events = 0;
    } else {
      p.fd = fd;
      p.events = s->bConnected.load() ? POLLIN : POLLOUT;
    }
    set.socks[set.count] = s;
    set.serial[set.count] = s->nOpenSerial.load();
    set.fill[set.count] = g.fills[i];
    set.slot[set.count] = i;
    set.entryOf[i] = set.count;
    ++set.count;
  }
  SyncEpoll(g, set);
  if (set.count == 0) {
    g.bStarted = 0;
    return false;
  }
  return true;
}

void Callback(CMySocket* s, int32_t event) {
  if (s->bRunning.load() && s->param.pfnCallback) s->param.pfnCallback(s->param.pUser, nullptr, 0, 0, 0, event);
}

void CheckConnect(CMySocket* s, short revents) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(s->hSocket.load(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err != 0 || !(revents & POLLOUT)) {
    s->bConnectFailed = 1;  // Linux reports a refused attempt as writable or as an error
    return;
  }
  OutputDebugLine("CMySocket - connect ok.");
  s->bConnected.store(1);
  Callback(s, SOCK_EVENT_CONNECTED);
}

// Drops a connection: the owner hears SOCK_EVENT_CLOSED first, then the slot is
// released; its Close (which waits for the release) can then free it safely.
// A callback that closed and reopened the socket has given it a new
// registration, which stays.
void Drop(ShareGroup& g, int slot, CMySocket* s, uint32_t fill) {
  Callback(s, SOCK_EVENT_CLOSED);
  std::lock_guard<std::mutex> lock(g.lock);
  if (g.slots[slot] == s && g.fills[slot] == fill) ReleaseSlotLocked(g, slot);
}

void ServeReadable(ShareGroup& g, int slot, CMySocket* s, uint32_t fill, uint8_t* buf) {
  ssize_t n = recv(s->hSocket.load(), buf, SHARE_RECV_SIZE, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    int32_t e;
    {
      std::lock_guard<std::mutex> lock(g.lock);
      e = ++g.errors[slot];
    }
    if (e > 10) Drop(g, slot, s, fill);
    return;
  }
  if (s->WriteToBuffer(buf, static_cast<int32_t>(n)) != 0) {
    OutputDebugLine("CMySocket - WriteToBuffer failed.!!!!!!!!!!");
    if (s->bRunning.load()) Drop(g, slot, s, fill);
    return;
  }
  std::lock_guard<std::mutex> lock(g.lock);
  g.errors[slot] = 0;
}

void ServePass(ShareGroup& g, PassSet& set, uint8_t* buf) {
  for (int k = 0; k < set.count; ++k) {
    short rev = set.fds[k].revents;
    CMySocket* s = set.socks[k];
    if (!rev || !StillHeld(g, set.slot[k], s, set.fill[k])) continue;
    if (!s->bRunning.load() || s->hSocket.load() < 0 || s->nOpenSerial.load() != set.serial[k]) continue;
    if (!s->bConnected.load()) {
      CheckConnect(s, rev);
      continue;
    }
    if (rev & (POLLIN | POLLERR | POLLHUP)) ServeReadable(g, set.slot[k], s, set.fill[k], buf);
  }
}

short PollEvents(uint32_t events) {
  short rev = 0;
  if (events & EPOLLIN) rev |= POLLIN;
  if (events & EPOLLOUT) rev |= POLLOUT;
  if (events & EPOLLERR) rev |= POLLERR;
  if (events & EPOLLHUP) rev |= POLLHUP;
  return rev;
}

// Waits up to a second for the group's sockets or its wake-up and marks what
// is ready in the pass. Only the ready sockets cost anything, whatever the
// size of the group. False when nothing is to be served.
bool WaitPass(ShareGroup& g, PassSet& set) {
  epoll_event events[SHARE_GROUP_SIZE + 1];
  int rc = epoll_wait(g.epollFd, events, SHARE_GROUP_SIZE + 1, 1000);
  if (rc < 0) {
    if (errno != EINTR) SleepMs(1000);
    return false;
  }
  for (int k = 0; k < set.count; ++k) set.fds[k].revents = 0;
  bool bAny = false;
  for (int j = 0; j < rc; ++j) {
    uint64_t mark = events[j].data.u64;
    if (mark == kWakeMark) {
      uint64_t v;
      ssize_t n = read(g.wakeFd, &v, sizeof v);
      (void)n;
      continue;
    }
    if (mark >= SHARE_GROUP_SIZE || set.entryOf[mark] < 0) continue;
    set.fds[set.entryOf[mark]].revents = PollEvents(events[j].events);
    bAny = true;
  }
  return bAny;
}

}  // namespace

int ShareThread(void* param) {
  int32_t index = static_cast<int32_t>(reinterpret_cast<intptr_t>(param));
  ShareGroup& g = g_groups[index];
  t_ownGroup = index;
  g_threadCount.fetch_add(1);
  OutputDebugLine("CMySocket - share thread start.");
  std::unique_ptr<uint8_t[]> buf(new uint8_t[SHARE_RECV_SIZE]);
  PassSet set;
  while (GatherPass(g, set)) {
    if (!WaitPass(g, set)) continue;
    ServePass(g, set, buf.get());
  }
  OutputDebugLine("CMySocket - share thread exit.");
  g_threadCount.fetch_sub(1);
  return 0;
}

namespace {
// The wake-up descriptor and the epoll set of a group, made once (group lock
// held). False when the system has no descriptor left for them.
bool MakeWaitSet(ShareGroup& g) {
  if (g.wakeFd < 0) g.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (g.wakeFd < 0) return false;
  if (g.epollFd >= 0) return true;
  int fd = epoll_create1(EPOLL_CLOEXEC);
  if (fd < 0) return false;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeMark;
  if (epoll_ctl(fd, EPOLL_CTL_ADD, g.wakeFd, &ev) != 0) {
    close(fd);
    return false;
  }
  g.epollFd = fd;
  return true;
}
}  // namespace

int ShareRegister(CMySocket* sock) {
  for (int32_t gi = 0; gi < SHARE_GROUPS; ++gi) {
    ShareGroup& g = g_groups[gi];
    std::lock_guard<std::mutex> lock(g.lock);
    for (int i = 0; i < SHARE_GROUP_SIZE; ++i) {
      if (g.slots[i]) continue;
      if (!g.bStarted) {
        if (!MakeWaitSet(g)) return 1;
        if (CPubCall::StartThread(ShareThread, reinterpret_cast<void*>(static_cast<intptr_t>(gi))) != 0) return 1;
        g.bStarted = 1;
      }
      g.slots[i] = sock;
      g.errors[i] = 0;
      ++g.fills[i];
      sock->nShareGroup.store(gi);
      sock->bStopped.store(0);
      Wake(g);
      return 0;
    }
  }
  return 2;
}

void ShareWake(CMySocket* sock) {
  int32_t gi = sock->nShareGroup.load();
  if (gi < 0 || gi >= SHARE_GROUPS) return;
  Wake(g_groups[gi]);
}

bool ShareWaitReleased(CMySocket* sock, int32_t timeoutMs) {
  int32_t gi = sock->nShareGroup.load();
  if (gi < 0 || gi >= SHARE_GROUPS) return sock->bStopped.load() != 0;
  ShareGroup& g = g_groups[gi];
  std::unique_lock<std::mutex> lock(g.lock);
  Wake(g);
  return g.released.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [sock] { return sock->bStopped.load() != 0; });
}

bool ShareIsOwnThread(int32_t group) { return t_ownGroup == group; }

void ShareReleaseOwn(CMySocket* sock) {
  int32_t gi = sock->nShareGroup.load();
  if (gi < 0 || gi >= SHARE_GROUPS) return;
  ShareGroup& g = g_groups[gi];
  std::lock_guard<std::mutex> lock(g.lock);
  for (int i = 0; i < SHARE_GROUP_SIZE; ++i) {
    if (g.slots[i] == sock) {
      ReleaseSlotLocked(g, i);
      return;
    }
  }
}

int32_t ShareThreadCount() { return g_threadCount.load(); }
