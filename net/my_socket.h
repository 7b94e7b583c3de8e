#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "net/framer_kinds.h"
#include "net/socket_param.h"

class CSockConn;

constexpr int32_t SOCKET_INITIAL_CAPACITY = 20000;
constexpr int32_t SOCK_SEND_HAND_OVER = 1;  // CMySocket::Send flag

// The one network endpoint class: an outgoing TCP connection served by the
// process-wide share table (share_table.h). Each Open makes a fresh connection
// object that the socket and its share group hold together, so Close never
// frees what a share thread still uses, and nothing of one connection (its
// framing, its unsent bytes) carries over to the next.
//
// Threads: Open, Send, Close and the rest are safe from any thread. The
// callbacks run on the share group's loop thread; from there a callback may
// Send on any socket, Open other sockets and Close any socket (its own
// included) without waiting for itself.
class CMySocket {
 public:
  CMySocket();
  // Closes the socket if the owner has not.
  ~CMySocket();
  CMySocket(const CMySocket&) = delete;
  CMySocket& operator=(const CMySocket&) = delete;

  // Opens an outgoing connection according to param (closing a previous one
  // first); 0 on success, 1 on failure: a mode other than SOCK_MODE_CONNECT
  // (SOCK_MODE_NONE opens nothing and gives 0), the address 0.0.0.0, a
  // socket that cannot be made, or no room in the share table ("CMysocket -
  // not found valid node."). The callback's first event follows on the share
  // thread: SOCK_EVENT_CONNECTED once the connection is up; a failed attempt
  // raises none.
  int Open(const SocketParam& param);

  // Sends len bytes as one unit, which never leaves torn or interleaved with
  // another: what the kernel does not take at once waits in the connection's
  // output buffer. timeoutMs 0 never waits; otherwise a caller on no share
  // thread at all first waits up to timeoutMs for room ("CMySocket - select timeout,
  // send data failed." and 0 when there is none). A peer that lets the output
  // buffer reach its bound is dropped (0). Returns len when the unit was
  // taken, -1 without a connection or data. With SOCK_SEND_HAND_OVER the
  // share thread makes every write: the caller only queues the unit and
  // never waits (timeoutMs must be 0); units of a thread that sends much,
  // such as the driver's uploads, then cost it no system call of the network.
  int Send(const void* data, int32_t len, uint32_t timeoutMs, int32_t nFlags = 0);
  // Send of one unit made of a head and a body, which are not copied together.
  int SendParts(const void* head, int32_t headLen, const void* body, int32_t bodyLen, uint32_t timeoutMs);
  // Bytes taken by Send that wait in the output buffer (0 without a connection).
  int32_t Unsent() const;

  // Stops service and closes the connection (with a reset). From any thread
  // but a share thread it returns once the share thread has let go of it: no
  // callback of this socket runs afterwards, and "CMySocket - wait thread exit
  // failed!" reports a release slower than 15 s (the wait goes on). On the
  // socket's own share thread it releases at once; on another share thread it
  // does not wait. Always 0; safe on a closed socket.
  int Close();
  // The same without waiting: done runs once the share thread has let go of
  // the connection (on that thread), or at once on the calling thread when
  // there is nothing to let go of. Many sockets closed this way are released
  // by their groups together, and the caller waits once for all of them.
  void Close(std::function<void()> done);

  // Stops service without an event and without waiting: the share thread lets
  // the connection go on its next turn. The owner still calls Close.
  void Detach();

  // Shuts the connection down in both directions: a Send waiting for room and
  // every later Send fail at once, and the share thread drops it.
  void Abort();

  // Waits up to timeoutMs until the peer has acknowledged everything sent (no
  // unsent bytes anywhere), so that Close (a reset) loses nothing. True when so.
  bool WaitSent(uint32_t timeoutMs);

  // --- framing without a connection (tests, fuzzing, tools) ---
  // Prepares a framer for bytes from elsewhere; frames go to param's callback.
  int AttachFramer(const SocketParam& param, int32_t nKind = FRAME_DETECT);
  // Frames one chunk as if it had been received: 0 keeps, 1 would drop.
  int WriteToBuffer(const uint8_t* data, int32_t len);

  // --- state ---
  bool IsOpen() const;       // a connection is held (not yet closed or dropped)
  bool IsConnected() const;  // and it has been established
  bool ConnectFailed() const;  // held, and its connection attempt failed
  int32_t FrameKind() const;
  int32_t Buffered() const;  // bytes the framer holds back
  int32_t BufferCapacity() const;
  const uint8_t* BufferData() const;
  // The descriptor of the held connection, -1 when none; it is closed by the
  // share thread when the connection is released (socket options in tests).
  int Handle() const;
  // The share group serving the connection, -1 when none.
  int32_t ShareGroup() const;

 private:
  std::shared_ptr<CSockConn> Current() const;
  // Takes the held connection (if any) and stops its service.
  std::shared_ptr<CSockConn> TakeStopped();

  mutable std::mutex lock_;  // guards conn_ (never held while waiting)
  std::shared_ptr<CSockConn> conn_;
};

// Writes a host-order IPv4 address as "%d.%d.%d.%d", highest byte first.
void FormatIp(uint32_t ip, char* out, int outSize);
