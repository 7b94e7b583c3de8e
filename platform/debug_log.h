#pragma once
#include <string>
#include <string_view>

// The debug output channel: one whole line per call. Lines go to standard
// error by default, each with one write(2) so that lines of different threads
// never mix. Tests install a sink that captures them instead.

// Writes one line (a line feed is added). Safe from any thread.
void OutputDebugLine(std::string_view text);

// Formats into a 400-byte buffer (longer output is cut) and writes one line.
void DebugPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Receives every debug line instead of standard error while installed.
class IDebugSink {
 public:
  virtual void OnDebugLine(std::string_view line) = 0;
  // The descriptor the sink appends whole lines to, when it is a plain file
  // (a CDebugBatch may then write several lines to it in one call); -1 when
  // every line must reach OnDebugLine.
  virtual int BatchFd() const { return -1; }

 protected:
  ~IDebugSink() = default;
};

// Installs a sink (nullptr restores standard error). The caller keeps the sink
// alive until it is removed again; removal waits for lines being delivered.
void SetDebugSink(IDebugSink* sink);

// Turns the channel off entirely (benchmarks); lines are dropped. Default on.
void SetDebugEnabled(bool enabled);

// A sink that appends every line to a file, each line (with its line feed)
// in one write(2) on a descriptor opened with O_APPEND, so lines of different
// threads, and of other processes appending to the same file, never mix.
class CDebugFileSink final : public IDebugSink {
 public:
  CDebugFileSink() = default;
  ~CDebugFileSink();
  CDebugFileSink(const CDebugFileSink&) = delete;
  CDebugFileSink& operator=(const CDebugFileSink&) = delete;

  // Opens path for appending, creating it (mode 0644) when missing. False
  // with errno set when it cannot be opened. Call before installing the sink.
  bool Open(const std::string& path);
  void OnDebugLine(std::string_view line) override;
  int BatchFd() const override { return fd_; }

 private:
  int fd_ = -1;
};

// While one lives on a thread, the lines that thread writes to standard error
// or to a file sink are collected and written together (at 64 KiB and when the
// outermost batch ends), whole lines only, so lines still never mix. A thread
// that writes many lines in a burst (the driver's pass) saves a system call
// per line. Lines for other sinks (tests) are delivered at once as ever.
class CDebugBatch {
 public:
  CDebugBatch();
  ~CDebugBatch();
  CDebugBatch(const CDebugBatch&) = delete;
  CDebugBatch& operator=(const CDebugBatch&) = delete;
};

// Quiet channel: only error lines are written, every other line is dropped
// (before any sink sees it). Default off. Safe from any thread.
void SetDebugQuiet(bool quiet);

// True for the channel's failure lines: a line that contains one of the words
// "failed", "error", "invalid", "not enough", "not found", "buffer full",
// "refused", "too long" or "never started" (lower case, as the failure texts
// write them). That takes in every failure text the program writes today:
//   dev - send data failed.          dev - create socket failed.
//   dev - open file failed.          dev - json parse failed.
//   dev - register address error.    dev - register server H refused: WHY
//   dev - resource not enough        dev - stream name too long.
//   dev - stream S never started, slot reset.
//   invalid video data.              avapi - invalid video data.
//   CMySocket - buffer full, close socket!!!!!
//   CMySocket - send buffer full, close socket!!!!!
//   CMySocket - WriteToBuffer failed.!!!!!!!!!!
//   CMySocket - select timeout, send data failed.
//   CMySocket - wait thread exit failed!
//   CMysocket - not found valid node.   CMysocket - CreateThread failed.
//   CPubCall - CreateThread failed.
//   napi - network data error, packet len = N, nType = T
//   napi - data length error, data len = N
// and none of the progress lines (thread start and exit, connect to, connect
// ok, open file ok, ConnectReg, seek to file begin, buffer small, received
// audio). A line that starts with '{' is a message text (sent or received
// JSON), never an error line, whatever its members hold.
bool IsDebugErrorLine(std::string_view line);
