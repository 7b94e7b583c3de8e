#include "platform/debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace {
std::shared_mutex g_sinkLock;
IDebugSink* g_sink = nullptr;       // guarded by g_sinkLock
std::atomic<int32_t> g_hasSink{0};  // fast path: no lock when no sink is installed
std::atomic<int32_t> g_enabled{1};
std::atomic<int32_t> g_quiet{0};

void WriteAll(int fd, const char* buf, size_t n) {
  size_t off = 0;
  while (off < n) {
    ssize_t w = write(fd, buf + off, n - off);
    if (w <= 0) break;
    off += static_cast<size_t>(w);
  }
}

// The lines of this thread's open batch, for one descriptor.
constexpr size_t kBatchFlushBytes = 64 * 1024;
thread_local int t_batchDepth = 0;
thread_local int t_batchFd = -1;
thread_local std::string t_batch;

void FlushBatch() {
  if (!t_batch.empty() && t_batchFd >= 0) WriteAll(t_batchFd, t_batch.data(), t_batch.size());
  t_batch.clear();
}

// True when the line went into the thread's batch.
bool Batched(int fd, std::string_view text) {
  if (t_batchDepth == 0 || fd < 0) return false;
  if (fd != t_batchFd) {
    FlushBatch();
    t_batchFd = fd;
  }
  t_batch.append(text.data(), text.size());
  t_batch.push_back('\n');
  if (t_batch.size() >= kBatchFlushBytes) FlushBatch();
  return true;
}

// The line and its line feed in one write(2); a pipe or terminal that takes
// only part of it gets the rest in further writes.
void WriteLine(int fd, std::string_view text) {
  char stackBuf[512];
  size_t n = text.size() + 1;
  char* buf = n <= sizeof stackBuf ? stackBuf : new char[n];
  memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\n';
  WriteAll(fd, buf, n);
  if (buf != stackBuf) delete[] buf;
}

constexpr std::string_view kErrorWords[] = {"failed",      "error",   "invalid",  "not enough",   "not found",
                                            "buffer full", "refused", "too long", "never started"};
}  // namespace

bool IsDebugErrorLine(std::string_view line) {
  if (!line.empty() && line[0] == '{') return false;
  for (std::string_view word : kErrorWords)
    if (line.find(word) != std::string_view::npos) return true;
  return false;
}

void OutputDebugLine(std::string_view text) {
  if (!g_enabled.load(std::memory_order_relaxed)) return;
  if (g_quiet.load(std::memory_order_relaxed) && !IsDebugErrorLine(text)) return;
  if (g_hasSink.load(std::memory_order_acquire)) {
    std::shared_lock lock(g_sinkLock);
    if (g_sink) {
      if (!Batched(g_sink->BatchFd(), text)) g_sink->OnDebugLine(text);
      return;
    }
  }
  if (!Batched(STDERR_FILENO, text)) WriteLine(STDERR_FILENO, text);
}

CDebugBatch::CDebugBatch() { ++t_batchDepth; }

CDebugBatch::~CDebugBatch() {
  if (--t_batchDepth > 0) return;
  // A file sink is only removed once its writers are done (the program's end).
  std::shared_lock lock(g_sinkLock);
  FlushBatch();
}

void DebugPrintf(const char* fmt, ...) {
  char buf[400];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  size_t len = static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1;
  OutputDebugLine(std::string_view(buf, len));
}

void SetDebugSink(IDebugSink* sink) {
  std::unique_lock lock(g_sinkLock);
  FlushBatch();  // this thread's own lines, before their descriptor goes
  g_sink = sink;
  g_hasSink.store(sink ? 1 : 0, std::memory_order_release);
}

void SetDebugEnabled(bool enabled) { g_enabled.store(enabled ? 1 : 0, std::memory_order_relaxed); }

void SetDebugQuiet(bool quiet) { g_quiet.store(quiet ? 1 : 0, std::memory_order_relaxed); }

CDebugFileSink::~CDebugFileSink() {
  if (fd_ >= 0) close(fd_);
}

bool CDebugFileSink::Open(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return true;
}

void CDebugFileSink::OnDebugLine(std::string_view line) {
  if (fd_ >= 0) WriteLine(fd_, line);
}
