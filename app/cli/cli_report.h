#pragma once
#include <cstdint>
#include <string>

#include "app/fleet.h"
#include "net/metrics_server.h"
#include "net/stats_report.h"

// What a run reports beyond its commands' output: --stats-file, --metrics and
// the thresholds of the end result.
struct CliReportOptions {
  std::string szStatsFile;                 // --stats-file PATH
  std::string szStatsFormat = STATS_FORMAT_CSV;  // --stats-format csv|jsonl
  std::string szMetrics;                   // --metrics HOST:PORT
  int32_t nAllowFailures = 0;              // --allow-failures N
  double dExpectOnlinePct = 100;           // --expect-online PCT
};

// Exit statuses of a run (2 stays the refused command line).
constexpr int CLI_EXIT_PASS = 0;
constexpr int CLI_EXIT_FAIL = 1;

// The run's reporting: periodic stats lines (and the stats file's rows), the
// Prometheus endpoint, and at the end a summary block and the exit status a
// script can use. Main thread; the metrics are served from a thread of their
// own, reading the fleet's thread-safe figures.
class CCliReport {
 public:
  explicit CCliReport(CFleet& fleet);
  CCliReport(const CCliReport&) = delete;
  CCliReport& operator=(const CCliReport&) = delete;

  // Opens the stats file and starts the metrics endpoint. False with the
  // reason in *why.
  bool Start(const CliReportOptions& options, std::string* why);
  // One stats line (and the file's row).
  std::string StatsLine();
  // The summary block, taken before the fleet closes, and the exit status:
  // PASS when every device asked to go online was online at the end (or the
  // --expect-online share of them) and at most --allow-failures failures
  // were counted; FAIL otherwise, with a line that names what failed.
  std::string Summary(int* pStatus);
  // The port the metrics are served on (0 without).
  uint16_t MetricsPort() const { return metrics.Port(); }

 private:
  CFleet& fleet;
  CliReportOptions opts;
  CStatsReport stats;
  CMetricsServer metrics;
  double startSec;
};
