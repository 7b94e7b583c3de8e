#include "app/cli/cli_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMaxPollMs = 200;

// Runs every whole line in pending (and the rest too when final); true on quit.
bool RunLines(CCliCore& core, std::string& pending, bool final) {
  size_t start = 0;
  for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
    std::string line = pending.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string out;
    int32_t rc = core.Execute(line, out);
    PrintOut(out);
    if (rc == CLI_QUIT) return true;
  }
  pending.erase(0, start);
  if (final && !pending.empty()) {
    std::string out;
    int32_t rc = core.Execute(pending, out);
    PrintOut(out);
    pending.clear();
    return rc == CLI_QUIT;
  }
  return false;
}

// Milliseconds from now until t, held to [0, kMaxPollMs].
int MsUntil(Clock::time_point t) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
  return ms < 0 ? 0 : (ms > kMaxPollMs ? kMaxPollMs : static_cast<int>(ms));
}

// Reads what standard input has; false at its end or on an error.
bool ReadInput(std::string& pending) {
  char buf[4096];
  ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  pending.append(buf, static_cast<size_t>(n));
  return true;
}

}  // namespace

void PrintOut(const std::string& text) {
  if (text.empty()) return;
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

namespace {

// Seconds of the steady clock, for the scenario's timing.
double SteadySec() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// The scenario's due work; true when its last phase has ended.
bool StepScenario(CScenarioRunner* runner, int* timeout) {
  if (!runner) return false;
  std::string out;
  runner->Step(SteadySec(), out);
  PrintOut(out);
  if (runner->Done()) return true;
  int due = runner->MsUntilDue(SteadySec());
  if (due < *timeout) *timeout = due;
  return false;
}

}  // namespace

void RunConsole(CCliCore& core, CCliReport& report, const CliOptions& options, int stopFd, CScenarioRunner* runner) {
  Clock::time_point begin = Clock::now();
  Clock::time_point end = begin + std::chrono::seconds(options.nDurationSec < 0 ? 0 : options.nDurationSec);
  Clock::time_point nextStats = begin + std::chrono::seconds(options.nStatsSec);
  bool inputOpen = true;
  std::string pending;
  for (;;) {
    if (options.nDurationSec >= 0 && Clock::now() >= end) return;
    report.Sample();
    if (options.nStatsSec > 0 && Clock::now() >= nextStats) {
      PrintOut(report.StatsLine() + "\n");
      nextStats += std::chrono::seconds(options.nStatsSec);
    }
    int timeout = kMaxPollMs;
    if (options.nDurationSec >= 0) timeout = MsUntil(end);
    if (options.nStatsSec > 0 && MsUntil(nextStats) < timeout) timeout = MsUntil(nextStats);
    if (StepScenario(runner, &timeout)) return;
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
    int rc = poll(fds, 2, timeout);
    if (rc < 0 && errno != EINTR) return;
    if (rc <= 0) continue;
    if (fds[0].revents) return;
    if (fds[1].revents && !ReadInput(pending)) inputOpen = false;
    if (RunLines(core, pending, !inputOpen)) return;
  }
}
