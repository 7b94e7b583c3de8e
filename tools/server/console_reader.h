#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// Reads command lines from a descriptor (standard input) on a thread of its
// own and hands each to a callback. The end of the input only ends the
// reader. Lines longer than CONSOLE_MAX_LINE are dropped.
class CConsoleReader {
 public:
  static constexpr size_t CONSOLE_MAX_LINE = 1 << 20;
  using LineFn = std::function<void(const std::string& line)>;

  CConsoleReader() = default;
  ~CConsoleReader() { Stop(); }
  CConsoleReader(const CConsoleReader&) = delete;
  CConsoleReader& operator=(const CConsoleReader&) = delete;

  // Starts reading fd; onLine runs on the reader thread.
  void Start(int fd, LineFn onLine);
  // Ends the thread (within about 200 ms) and waits for it. Safe from the starting thread.
  void Stop();

 private:
  void Run(int fd);

  LineFn fn;
  std::atomic<int32_t> bStop{0};
  std::thread worker;
};

// Splits buffered input at line feeds (a carriage return before one is
// dropped); what follows the last line feed stays in buf. Pure function.
void TakeLines(std::string& buf, const std::function<void(const std::string&)>& onLine);
