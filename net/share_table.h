#pragma once
#include <cstdint>
#include <memory>

class CSockConn;

constexpr int32_t SHARE_GROUPS = 300;
constexpr int32_t SHARE_GROUP_SIZE = 64;
constexpr int32_t SHARE_RECV_SIZE = 60000;

// The process-wide table of share groups that serve outgoing connections: at
// most 300 groups of 64. Each group that holds a connection has one thread
// running an event loop (CEventLoop) over its connections; the thread ends
// when the group is empty and the next registration starts a new one.
//
// A connection is served on its group's loop thread: the connect is detected
// there, received bytes are framed there, and every callback of the owner runs
// there. Nothing on that thread sleeps or waits. A connection leaves its group
// only on the loop thread (a release), so no callback for it starts after the
// release has completed.

// Puts conn into the first free slot of the table and starts its service (and
// the group's thread when needed). 0 on success; 1 when the thread could not
// be started; 2 when the table is full. Safe from any thread.
int ShareRegister(const std::shared_ptr<CSockConn>& conn);

// Asks conn's loop to release it (bRunning should be cleared first, so that
// no further callback starts). With bWait, returns once the release has
// completed: at once on conn's own loop thread, which releases it there and
// then; from another loop thread it never waits (two loops waiting for each
// other would never finish), the shared ownership keeping conn valid until
// the loop lets go. Harmless when conn was never registered or is released.
void ShareRelease(const std::shared_ptr<CSockConn>& conn, bool bWait);

// conn has bytes waiting in its output buffer: its loop drains them when the
// socket is writable. Any thread.
void ShareArmWrite(CSockConn& conn);

// While one lives on a thread, the write requests of that thread's sends
// (ShareArmWrite) are collected and handed to each group in one task when
// Flush is called or the batch ends, instead of one task per connection: a
// thread that queues units for thousands of connections (the driver) then
// wakes each share thread once per batch.
class CShareArmBatch {
 public:
  CShareArmBatch();
  ~CShareArmBatch();
  CShareArmBatch(const CShareArmBatch&) = delete;
  CShareArmBatch& operator=(const CShareArmBatch&) = delete;
  // Hands the requests collected so far to their groups.
  static void Flush();
};

class CEventLoop;

// Work that lives on a share loop (timers of a media sender) keeps that loop
// running while it holds one of these, even when the loop serves no
// connection any more. Made and destroyed on that loop's thread; made on any
// other thread it holds nothing (Loop() is null).
class CShareLoopHold {
 public:
  CShareLoopHold();
  ~CShareLoopHold();
  CShareLoopHold(const CShareLoopHold&) = delete;
  CShareLoopHold& operator=(const CShareLoopHold&) = delete;
  CEventLoop* Loop() const;

 private:
  void* pRun;
};

// True when the calling thread is the loop thread of conn's group.
bool ShareOnOwnLoop(const CSockConn& conn);

// True when the calling thread is any share group's loop thread.
bool ShareOnAnyLoop();

// Number of share threads running now (tests and statistics).
int32_t ShareThreadCount();

// Lets registrations use only the first nGroups groups (1 to SHARE_GROUPS),
// so that tests can fill the table. Any thread.
void ShareLimitGroups(int32_t nGroups);
