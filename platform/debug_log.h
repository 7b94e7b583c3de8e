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

 protected:
  ~IDebugSink() = default;
};

// Installs a sink (nullptr restores standard error). The caller keeps the sink
// alive until it is removed again; removal waits for lines being delivered.
void SetDebugSink(IDebugSink* sink);

// Turns the channel off entirely (benchmarks); lines are dropped. Default on.
void SetDebugEnabled(bool enabled);
