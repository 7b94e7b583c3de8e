#pragma once
#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "net/framer.h"
#include "net/output_buffer.h"
#include "net/socket_param.h"

// One outgoing TCP connection, from one CMySocket::Open to its release. The
// socket object and the share group that serves it both hold it by
// shared_ptr, so its memory (descriptor, receive framer, output buffer) stays
// valid for as long as either may touch it, whatever order they let go in.
//
// Threads: the owner's threads (Send, Abort, Flush, WaitSent, the close
// request), the share group's loop thread (everything marked InLoop, the
// framer and the callbacks). The descriptor is closed only by the loop, under
// the output lock and after it left the group's epoll set, so no send can hit
// a reused descriptor number.
class CSockConn : public std::enable_shared_from_this<CSockConn> {
 public:
  CSockConn(const SocketParam& param, int fd);
  ~CSockConn();
  CSockConn(const CSockConn&) = delete;
  CSockConn& operator=(const CSockConn&) = delete;

  // --- any thread ---
  // Sends len bytes as one unit: what the kernel does not take now waits in
  // the output buffer and goes out, in order, when the socket is writable, so
  // a unit never leaves torn and units never interleave. timeoutMs > 0 waits
  // first until the output buffer is empty and the socket writable, but only
  // off every loop thread: a loop never waits, for its own sockets or others'. Returns len when the unit was taken, 0 on a time-out or
  // when the output buffer would pass its bound (the connection is then
  // dropped), -1 without a descriptor, or what send returned on an error.
  // bHandOver leaves even the first attempt to the share thread: the caller
  // never enters the network stack (the driver, whose pass must stay short).
  int Send(const void* data, int32_t len, uint32_t timeoutMs, bool bHandOver = false);
  // The same for a unit made of a head and a body (bodyLen may be 0), sent
  // as one without copying them together first.
  int SendParts(const void* head, int32_t headLen, const void* body, int32_t bodyLen, uint32_t timeoutMs,
                bool bHandOver = false);
  // Bytes waiting in the output buffer.
  int32_t Unsent();
  // Shuts the connection down in both directions: every later Send fails and
  // the loop drops the connection.
  void Abort();
  // True when the output buffer and the kernel's send queue are both empty,
  // waiting up to timeoutMs.
  bool WaitSent(uint32_t timeoutMs);
  // Blocks until the loop has released the connection (no callback for it runs
  // any more and none will), writing "CMySocket - wait thread exit failed!"
  // once when that takes longer than the report time.
  void WaitReleased();
  // Runs done once the loop has released the connection: on the loop thread
  // right after the release, or at once on the calling thread when it is
  // released already.
  void WhenReleased(std::function<void()> done);

  // Starts the connection attempt (it completes later). Open calls it, or the
  // loop's timer when the connect is delayed.
  void ConnectNow();

  // --- state: one value, moved forward by compare-and-swap ---
  //   CONNECTING -> CONNECTED | CONNECT_FAILED   (the loop, once the attempt ends)
  //   any but RELEASED -> STOPPED                (the owner: Close or Detach)
  //   any -> RELEASED                            (the loop, when it lets go)
  // A connection the owner stopped gets no callback any more; a released one
  // has no descriptor.
  enum class State : int32_t { CONNECTING, CONNECTED, CONNECT_FAILED, STOPPED, RELEASED };
  State CurrentState() const { return static_cast<State>(nState.load()); }
  bool Serving() const { State s = CurrentState(); return s != State::STOPPED && s != State::RELEASED; }
  bool Connected() const { return CurrentState() == State::CONNECTED; }
  bool AttemptFailed() const { return CurrentState() == State::CONNECT_FAILED; }
  bool Released() const { return CurrentState() == State::RELEASED; }
  // The owner wants no more service (Close, Detach). Any thread.
  void StopService();
  // The attempt ended; false when the owner stopped the connection meanwhile.
  // Loop thread.
  bool SetConnected();
  void SetAttemptFailed();

  // --- registration (set once by the share table, before the loop sees it) ---
  void Place(int32_t group, int32_t slot, void* run);
  int32_t Group() const { return nGroup.load(); }
  int32_t Slot() const { return nSlot.load(); }
  void* ShareRunOf() const { return pShareRun.load(); }

  int Fd() const { return fd.load(); }
  // When the connection attempt started (GetMicroTicks): the connect time is
  // measured from here to the loop seeing the connection up.
  uint32_t ConnectStartUs() const { return dwConnectStartUs.load(std::memory_order_relaxed); }

  // --- loop thread ---
  // The connection left its group: descriptor closed (reset), waiters woken.
  void MarkReleasedInLoop();
  // Sends queued bytes; true when the output buffer is empty afterwards.
  bool FlushOutInLoop();

  const SocketParam param;
  CFramer framer;  // loop thread (or the framing-only owner)
  // What only the loop thread touches.
  struct LoopState {
    uint64_t nDelayTimer = 0;    // the pending delayed connect, 0 when none
    int32_t nEmptyReads = 0;     // empty or failed receives in a row
    bool bWriteWatched = false;  // EPOLLOUT is in the loop's interest set
  } inLoop;

 private:
  bool WaitRoom(int fdNow, uint32_t timeoutMs);
  void DropForBacklog();
  // Closes the descriptor with a reset (SO_LINGER 0), under the output lock.
  void CloseFdInLoop();

  std::atomic<int32_t> nState{static_cast<int32_t>(State::CONNECTING)};
  std::atomic<int32_t> fd;
  std::atomic<uint32_t> dwConnectStartUs{0};
  std::atomic<int32_t> nGroup{-1};  // share group and slot, set at registration
  std::atomic<int32_t> nSlot{-1};
  std::atomic<void*> pShareRun{nullptr};  // the group's run that serves it
  std::mutex outLock;  // guards out, bWriteArmed and the descriptor's closing
  std::condition_variable outDrained;
  COutputBuffer out;
  bool bWriteArmed = false;  // the loop has been asked to drain the buffer
  std::mutex releaseLock;  // guards whenReleased and the release's waking
  std::condition_variable releasedCv;
  std::vector<std::function<void()>> whenReleased;
};

// Bytes a connection may hold unsent before it is dropped as not reading.
size_t SocketOutLimit(int32_t nMaxBuf);

// How long Close waits before it reports "CMySocket - wait thread exit
// failed!" (it goes on waiting). 15000 ms unless tests shorten it.
void SetCloseReportMs(uint32_t ms);
uint32_t CloseReportMs();
