#include "net/share_table.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "net/event_loop.h"
#include "net/latency_recorder.h"
#include "net/load_counters.h"
#include "net/sock_conn.h"
#include "net/socket_setup.h"
#include "platform/debug_log.h"
#include "platform/pub_call.h"

namespace {

constexpr uint32_t kReadEvents = EPOLLIN | EPOLLRDHUP;
constexpr int32_t kMaxEmptyReads = 10;  // the 11th empty or failed receive in a row drops

// One run of a group's thread: its loop and the connections it serves. Made
// when the thread starts and deleted when it ends, so a thread that is still
// finishing never shares state with its successor. Everything but the loop's
// Post is touched on the loop thread only.
struct ShareRun {
  explicit ShareRun(int32_t g) : nGroup(g) {}
  const int32_t nGroup;
  CEventLoop loop;
  // The table's slots first; above them the connections pinned to this loop.
  std::vector<std::shared_ptr<CSockConn>> slots = std::vector<std::shared_ptr<CSockConn>>(SHARE_GROUP_SIZE);
  std::vector<uint32_t> fills = std::vector<uint32_t>(SHARE_GROUP_SIZE);  // advanced by each attach, so stale events are told apart
  std::unique_ptr<uint8_t[]> recvBuf;
};

// The lock guards the slot reservations and the running thread's run, so that
// a thread's ending and a concurrent registration never leave a connection
// unserved, and no task is ever posted to a loop that has finished.
struct ShareGroup {
  std::mutex lock;
  ShareRun* pRun = nullptr;
  int32_t nReserved = 0;
  bool bReserved[SHARE_GROUP_SIZE] = {};
  // Connections pinned to the group's loop (slot numbers from SHARE_GROUP_SIZE
  // up), and holds of loop-resident work (CShareLoopHold): the loop keeps
  // running while any remains.
  int32_t nPinned = 0;
  int32_t nPinTop = SHARE_GROUP_SIZE;
  std::vector<int32_t> freePins;
  int32_t nHolds = 0;
  bool Idle() const { return nReserved == 0 && nPinned == 0 && nHolds == 0; }
};

// Never destroyed: share threads may still be finishing while the process exits.
ShareGroup* const g_groups = new ShareGroup[SHARE_GROUPS];
std::atomic<int32_t> g_threadCount{0};
std::atomic<int32_t> g_groupLimit{SHARE_GROUPS};
thread_local ShareRun* t_run = nullptr;

ShareRun* RunOf(const CSockConn& c) { return static_cast<ShareRun*>(c.ShareRunOf()); }

void Callback(CSockConn& c, int32_t event, uint8_t* data = nullptr, int32_t len = 0) {
  if (c.Serving() && c.param.pfnCallback) c.param.pfnCallback(c.param.pUser, data, len, 0, 0, event);
}

bool Holds(const ShareRun& run, int32_t i, const CSockConn* c, uint32_t fill) {
  return run.slots[i].get() == c && run.fills[i] == fill;
}

// The connection leaves the loop before its descriptor is closed, and the
// descriptor is closed before the owner hears of the release.
void ReleaseInLoop(ShareRun& run, int32_t i) {
  std::shared_ptr<CSockConn> c = std::move(run.slots[i]);
  if (!c) return;
  run.loop.Unwatch(c->Fd());
  if (c->inLoop.nDelayTimer != 0) run.loop.CancelTimer(c->inLoop.nDelayTimer);
  c->inLoop.nDelayTimer = 0;
  ShareGroup& g = g_groups[run.nGroup];
  std::lock_guard<std::mutex> lock(g.lock);
  c->MarkReleasedInLoop();
  if (i < SHARE_GROUP_SIZE) {
    g.bReserved[i] = false;
    --g.nReserved;
  } else {
    g.freePins.push_back(i);
    --g.nPinned;
  }
  if (g.Idle()) {
    g.pRun = nullptr;
    run.loop.Quit();
  }
}

// The owner hears SOCK_EVENT_CLOSED first, then the connection is released
// and closed at once (a peer that sent what cannot be framed sees the close
// now, not at the device's next reconnect).
void Drop(ShareRun& run, int32_t i, CSockConn& c, uint32_t fill) {
  Callback(c, SOCK_EVENT_CLOSED);
  if (Holds(run, i, &c, fill)) ReleaseInLoop(run, i);
}

void SetInterest(ShareRun& run, CSockConn& c, bool bWrite) {
  c.inLoop.bWriteWatched = bWrite;
  run.loop.Modify(c.Fd(), kReadEvents | (bWrite ? uint32_t{EPOLLOUT} : 0u));
}

void ArmWriteInLoop(ShareRun& run, CSockConn& c) {
  if (c.Released() || !c.Connected() || c.inLoop.bWriteWatched) return;
  SetInterest(run, c, true);
}

void CheckConnect(ShareRun& run, CSockConn& c, uint32_t events) {
  int err = 0;
  socklen_t len = sizeof err;
  int fd = c.Fd();
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err != 0 || !(events & EPOLLOUT)) {
    // Linux reports a refused attempt as writable or as an error. No event
    // follows a failed attempt; the slot stays until the owner closes.
    CountFailure(err == ETIMEDOUT ? FAIL_CONNECT_TIMEOUT : FAIL_CONNECT_REFUSED);
    c.SetAttemptFailed();
    run.loop.Unwatch(fd);
    return;
  }
  OutputDebugLine("CMySocket - connect ok.");
  if (!c.SetConnected()) return;  // stopped by its owner meanwhile
  RecordLatencySince(LAT_CONNECT, c.ConnectStartUs());
  SetInterest(run, c, false);
  Callback(c, SOCK_EVENT_CONNECTED);
}

struct SinkContext {
  ShareRun* run;
  int32_t slot;
  uint32_t fill;
  CSockConn* conn;
};

// Frames go to the owner while it wants them and the connection is still the
// one this pass serves (a callback may close or reopen it).
bool DeliverFrame(void* ctx, uint8_t* frame, int32_t len) {
  auto& s = *static_cast<SinkContext*>(ctx);
  if (!s.conn->Serving() || !Holds(*s.run, s.slot, s.conn, s.fill)) return false;
  Callback(*s.conn, SOCK_EVENT_DATA, frame, len);
  return s.conn->Serving() && Holds(*s.run, s.slot, s.conn, s.fill);
}

void ServeReadable(ShareRun& run, int32_t i, uint32_t fill, CSockConn& c) {
  ssize_t n = RecvNoWait(c.Fd(), run.recvBuf.get(), SHARE_RECV_SIZE);
  if (n < 0 && WouldBlock(errno)) return;
  if (n <= 0) {
    if (++c.inLoop.nEmptyReads > kMaxEmptyReads) Drop(run, i, c, fill);
    return;
  }
  c.inLoop.nEmptyReads = 0;
  SinkContext ctx{&run, i, fill, &c};
  if (c.framer.Write(run.recvBuf.get(), static_cast<int32_t>(n), &DeliverFrame, &ctx) == 0) return;
  OutputDebugLine("CMySocket - WriteToBuffer failed.!!!!!!!!!!");
  if (Holds(run, i, &c, fill)) Drop(run, i, c, fill);
}

void OnConnEvent(ShareRun& run, int32_t i, uint32_t fill, uint32_t events) {
  std::shared_ptr<CSockConn> c = run.slots[i];  // keeps it alive through its callbacks
  if (!c || run.fills[i] != fill) return;
  if (!c->Serving()) return ReleaseInLoop(run, i);  // stopped by its owner: no event
  if (c->AttemptFailed()) return;
  if (!c->Connected()) return CheckConnect(run, *c, events);
  if ((events & EPOLLOUT) && c->FlushOutInLoop()) {
    SetInterest(run, *c, false);
    if (c->param.bDrainedEvent) Callback(*c, SOCK_EVENT_DRAINED);
    if (!Holds(run, i, c.get(), fill)) return;
  }
  if (events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) ServeReadable(run, i, fill, *c);
}

void WatchConn(ShareRun& run, int32_t i, uint32_t fill) {
  ShareRun* r = &run;
  if (!run.loop.Watch(run.slots[i]->Fd(), EPOLLOUT,
                      [r, i, fill](uint32_t events) { OnConnEvent(*r, i, fill, events); })) {
    run.slots[i]->SetAttemptFailed();  // no room in the epoll set: like a failed attempt
  }
}

void StartDelayedConnect(ShareRun& run, int32_t i, uint32_t fill) {
  CSockConn* c = run.slots[i].get();
  if (!c || run.fills[i] != fill) return;
  c->inLoop.nDelayTimer = 0;
  c->ConnectNow();
  WatchConn(run, i, fill);
}

void AttachInLoop(ShareRun& run, const std::shared_ptr<CSockConn>& c) {
  int32_t i = c->Slot();
  if (static_cast<size_t>(i) >= run.slots.size()) {
    run.slots.resize(static_cast<size_t>(i) + 1);
    run.fills.resize(static_cast<size_t>(i) + 1);
  }
  run.slots[i] = c;
  uint32_t fill = ++run.fills[i];
  if (!c->Serving()) return ReleaseInLoop(run, i);  // closed before it was served
  if (c->param.nConnectDelayMs == 0) return WatchConn(run, i, fill);
  ShareRun* r = &run;
  c->inLoop.nDelayTimer = run.loop.AddTimer(c->param.nConnectDelayMs, 0, [r, i, fill] { StartDelayedConnect(*r, i, fill); });
}

// A release asked for by the owner; the slot may have been dropped already.
void ReleaseRequested(ShareRun& run, const std::shared_ptr<CSockConn>& c) {
  int32_t i = c->Slot();
  if (static_cast<size_t>(i) < run.slots.size() && run.slots[i] == c) ReleaseInLoop(run, i);
}

int ShareThreadMain(void* param) {
  auto* run = static_cast<ShareRun*>(param);
  t_run = run;
  g_threadCount.fetch_add(1);
  OutputDebugLine("CMySocket - share thread start.");
  run->recvBuf.reset(new uint8_t[SHARE_RECV_SIZE]);
  run->loop.Run();
  OutputDebugLine("CMySocket - share thread exit.");
  t_run = nullptr;
  delete run;
  g_threadCount.fetch_sub(1);
  return 0;
}

// Group lock held. Makes the group's run and starts its thread when none runs.
bool EnsureRunning(ShareGroup& g, int32_t gi) {
  if (g.pRun) return true;
  auto* run = new ShareRun(gi);
  if (!run->loop.Ok() || CPubCall::StartThread(ShareThreadMain, run) != 0) {
    delete run;
    return false;
  }
  g.pRun = run;
  return true;
}

}  // namespace

namespace {

// Group lock held. Serves conn on the group's running loop, beyond its table slots.
void PinInGroup(ShareGroup& g, int32_t gi, const std::shared_ptr<CSockConn>& conn) {
  int32_t i;
  if (!g.freePins.empty()) {
    i = g.freePins.back();
    g.freePins.pop_back();
  } else {
    i = g.nPinTop++;
  }
  ++g.nPinned;
  conn->Place(gi, i, g.pRun);
  ShareRun* run = g.pRun;
  run->loop.Post([run, conn] { AttachInLoop(*run, conn); });
}

}  // namespace

int ShareRegister(const std::shared_ptr<CSockConn>& conn) {
  const int32_t nGroups = g_groupLimit.load();
  const int32_t pin = conn->param.nShareGroup;
  if (pin >= 0 && pin < SHARE_GROUPS) {
    ShareGroup& g = g_groups[pin];
    std::lock_guard<std::mutex> lock(g.lock);
    if (g.pRun) {
      PinInGroup(g, pin, conn);
      return 0;
    }
  }
  for (int32_t gi = 0; gi < nGroups; ++gi) {
    ShareGroup& g = g_groups[gi];
    std::lock_guard<std::mutex> lock(g.lock);
    if (g.nReserved >= SHARE_GROUP_SIZE) continue;
    int32_t i = 0;
    while (g.bReserved[i]) ++i;
    if (!EnsureRunning(g, gi)) return 1;
    g.bReserved[i] = true;
    ++g.nReserved;
    conn->Place(gi, i, g.pRun);
    ShareRun* run = g.pRun;
    run->loop.Post([run, conn] { AttachInLoop(*run, conn); });
    return 0;
  }
  return 2;
}

void ShareRelease(const std::shared_ptr<CSockConn>& conn, bool bWait) {
  int32_t gi = conn->Group();
  if (gi < 0 || conn->Released()) return;
  ShareRun* run = RunOf(*conn);
  const int32_t i = conn->Slot();
  if (t_run == run && static_cast<size_t>(i) < run->slots.size() && run->slots[i] == conn) return ReleaseInLoop(*run, i);
  {
    std::lock_guard<std::mutex> lock(g_groups[gi].lock);
    if (conn->Released()) return;
    run->loop.Post([run, conn] { ReleaseRequested(*run, conn); });
  }
  if (bWait && !t_run) conn->WaitReleased();
}

namespace {
thread_local int t_armDepth = 0;
thread_local std::vector<std::shared_ptr<CSockConn>> t_arms;

// Loop thread: sends what the batch queued; what the socket does not take
// now waits for EPOLLOUT.
void FlushArmedInLoop(ShareRun& run, const std::vector<std::shared_ptr<CSockConn>>& conns) {
  for (const auto& c : conns) {
    if (c->Released() || !c->Connected()) continue;
    if (!c->FlushOutInLoop()) ArmWriteInLoop(run, *c);
  }
}
}  // namespace

CShareArmBatch::CShareArmBatch() { ++t_armDepth; }

CShareArmBatch::~CShareArmBatch() {
  if (--t_armDepth == 0) Flush();
}

void CShareArmBatch::Flush() {
  if (t_arms.empty()) return;
  std::vector<std::shared_ptr<CSockConn>> all;
  all.swap(t_arms);
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a->Group() < b->Group(); });
  for (size_t i = 0; i < all.size();) {
    int32_t gi = all[i]->Group();
    size_t j = i;
    while (j < all.size() && all[j]->Group() == gi) ++j;
    std::vector<std::shared_ptr<CSockConn>> part(all.begin() + static_cast<std::ptrdiff_t>(i),
                                                  all.begin() + static_cast<std::ptrdiff_t>(j));
    std::lock_guard<std::mutex> lock(g_groups[gi].lock);
    // A group's run is the one of any connection it still holds.
    ShareRun* run = nullptr;
    for (const auto& c : part) {
      if (!c->Released()) run = RunOf(*c);
    }
    if (run) run->loop.Post([run, part = std::move(part)] { FlushArmedInLoop(*run, part); });
    i = j;
  }
}

void ShareArmWrite(CSockConn& conn) {
  int32_t gi = conn.Group();
  if (gi < 0) return;
  ShareRun* run = RunOf(conn);
  if (t_run == run) return ArmWriteInLoop(*run, conn);
  if (t_armDepth > 0) {
    t_arms.push_back(conn.shared_from_this());
    return;
  }
  std::lock_guard<std::mutex> lock(g_groups[gi].lock);
  if (conn.Released()) return;
  std::weak_ptr<CSockConn> weak = conn.weak_from_this();
  run->loop.Post([run, weak] {
    if (auto c = weak.lock()) ArmWriteInLoop(*run, *c);
  });
}

CShareLoopHold::CShareLoopHold() : pRun(t_run) {
  if (!pRun) return;
  ShareGroup& g = g_groups[t_run->nGroup];
  std::lock_guard<std::mutex> lock(g.lock);
  ++g.nHolds;
}

CShareLoopHold::~CShareLoopHold() {
  if (!pRun) return;
  auto* run = static_cast<ShareRun*>(pRun);
  ShareGroup& g = g_groups[run->nGroup];
  std::lock_guard<std::mutex> lock(g.lock);
  if (--g.nHolds == 0 && g.Idle()) {
    g.pRun = nullptr;
    run->loop.Quit();
  }
}

CEventLoop* CShareLoopHold::Loop() const { return pRun ? &static_cast<ShareRun*>(pRun)->loop : nullptr; }

bool ShareOnOwnLoop(const CSockConn& conn) { return t_run != nullptr && t_run == RunOf(conn); }

bool ShareOnAnyLoop() { return t_run != nullptr; }

int32_t ShareThreadCount() { return g_threadCount.load(); }

void ShareLimitGroups(int32_t nGroups) {
  g_groupLimit.store(nGroups < 1 ? 1 : (nGroups > SHARE_GROUPS ? SHARE_GROUPS : nGroups));
}
