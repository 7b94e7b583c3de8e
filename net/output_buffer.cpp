#include "net/output_buffer.h"

#include <errno.h>

#include "net/socket_setup.h"

namespace {
constexpr size_t OUTPUT_KEEP_CAPACITY = 65536;  // a drained buffer larger than this is given back
}  // namespace

// Drops the written front once it is half of the buffer, before the buffer
// grows: each byte is moved at most once more on average.
void COutputBuffer::MakeRoom() {
  if (nOff_ == 0 || nOff_ < buf_.size() / 2) return;
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(nOff_));
  nOff_ = 0;
}

void COutputBuffer::Release() {
  buf_.clear();
  if (buf_.capacity() > OUTPUT_KEEP_CAPACITY) std::vector<uint8_t>().swap(buf_);
  nOff_ = 0;
}

bool COutputBuffer::Append(const void* data, size_t len) { return Append(data, len, nullptr, 0); }

bool COutputBuffer::Append(const void* head, size_t headLen, const void* body, size_t bodyLen) {
  size_t room = nBound_ - Pending();  // Pending never passes the bound
  if (headLen > room || bodyLen > room - headLen) return false;
  MakeRoom();
  const auto* h = static_cast<const uint8_t*>(head);
  const auto* b = static_cast<const uint8_t*>(body);
  if (headLen > 0) buf_.insert(buf_.end(), h, h + headLen);
  if (bodyLen > 0) buf_.insert(buf_.end(), b, b + bodyLen);
  return true;
}

OutputResult COutputBuffer::WriteTo(int fd) {
  while (!Empty()) {
    ssize_t n = SendNoWait(fd, buf_.data() + nOff_, Pending());
    if (n <= 0) return (n == 0 || WouldBlock(errno)) ? OUTPUT_WOULD_BLOCK : OUTPUT_FAILED;
    nOff_ += static_cast<size_t>(n);
  }
  Release();
  return OUTPUT_DRAINED;
}

OutputResult COutputBuffer::Send(int fd, const void* data, size_t len) {
  size_t sent = 0;
  if (Empty()) {
    ssize_t n = SendNoWait(fd, data, len);
    if (n < 0 && !WouldBlock(errno)) return OUTPUT_FAILED;
    sent = n > 0 ? static_cast<size_t>(n) : 0;
    if (sent == len) return OUTPUT_DRAINED;
  }
  // Past the bound after a part went out, the unit is torn: the caller drops
  // the peer, so nothing follows it on this connection.
  if (!Append(static_cast<const uint8_t*>(data) + sent, len - sent)) return OUTPUT_OVER_BOUND;
  return OUTPUT_WOULD_BLOCK;
}

void COutputBuffer::Clear() { Release(); }
