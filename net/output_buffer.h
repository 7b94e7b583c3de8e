#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// What COutputBuffer::WriteTo and Send report.
enum OutputResult : int32_t {
  OUTPUT_DRAINED = 0,      // nothing waits: every byte is with the kernel
  OUTPUT_WOULD_BLOCK = 1,  // bytes wait until the socket takes more (EPOLLOUT)
  OUTPUT_FAILED = 2,       // send failed (errno kept): the peer is gone
  OUTPUT_OVER_BOUND = 3,   // Send only: keeping the rest would pass the bound; the caller drops the peer
};

// The unsent bytes of one connection, in order. A unit (a packet) is appended
// whole or not at all, so units never leave torn or interleaved; what the
// kernel takes is written from the front. The bytes already written stay at
// the front until they are half of the buffer, and a drained buffer larger
// than 64 KiB is given back, so an idle connection holds little and a busy one
// does not grow without end. Past its bound a unit is refused: the peer reads
// too slowly and the caller drops it.
//
// Not thread-safe: one thread at a time, or the caller's lock.
class COutputBuffer {
 public:
  explicit COutputBuffer(size_t nBound) : nBound_(nBound) {}
  COutputBuffer(const COutputBuffer&) = delete;
  COutputBuffer& operator=(const COutputBuffer&) = delete;

  bool Empty() const { return nOff_ == buf_.size(); }
  // Bytes waiting to be written.
  size_t Pending() const { return buf_.size() - nOff_; }
  size_t Bound() const { return nBound_; }
  // Bytes of memory the buffer takes.
  size_t Capacity() const { return buf_.capacity(); }

  // Appends one unit. False, appending nothing, when the pending bytes would
  // pass the bound.
  bool Append(const void* data, size_t len);
  // Appends one unit given in two parts (a header and its body), both or
  // neither.
  bool Append(const void* head, size_t headLen, const void* body, size_t bodyLen);
  // Writes as much as the kernel takes, without blocking and without SIGPIPE.
  OutputResult WriteTo(int fd);
  // Sends one unit: when nothing waits before it, straight from data (what
  // the kernel takes at once is never copied), and keeps the rest. With bytes
  // already waiting the whole unit is appended behind them.
  OutputResult Send(int fd, const void* data, size_t len);
  // Forgets every pending byte (the connection is gone).
  void Clear();

 private:
  void MakeRoom();
  void Release();

  std::vector<uint8_t> buf_;
  size_t nOff_ = 0;  // bytes at the front already written
  const size_t nBound_;
};
