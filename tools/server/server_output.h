#pragma once
#include <mutex>
#include <string>
#include <vector>

// Where the server's lines go: standard output (the executable) or a list
// that tests read. Safe from any thread.
class COutput {
 public:
  // bToStdout false: lines are only kept for Lines().
  COutput(bool bToStdout, bool bQuiet) : bStdout(bToStdout), bQuietMode(bQuiet) {}

  // A line that is always written (command results, reports, statistics).
  void Line(const std::string& text);
  // A per-event line (login, upload, stream), left out in quiet mode.
  void Event(const std::string& text);
  bool Quiet() const { return bQuietMode; }
  // Every line written so far (kept only when not writing to standard output).
  std::vector<std::string> Lines() const;

 private:
  const bool bStdout;
  const bool bQuietMode;
  mutable std::mutex lock;
  std::vector<std::string> lines;  // guarded by lock
};
