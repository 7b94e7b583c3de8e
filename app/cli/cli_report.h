#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/cli/thresholds.h"
#include "app/fleet.h"
#include "net/latency_figures.h"
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
  std::vector<std::string> thresholdTexts; // --threshold EXPR, repeatable
  std::vector<Threshold> thresholds;       // the same, parsed (ParseThresholds)
};

// Parses options->thresholdTexts into options->thresholds; false with the
// first malformed one named in *why.
bool ParseThresholds(CliReportOptions* options, std::string* why);

// What --metrics serves: the fleet's figures, the latency histograms and,
// during a scenario, zel_cli_phase_info{phase="NAME"} 1. Any thread.
std::string CliMetricsText(const CFleet& fleet, const std::string& phase = "");

// One phase of a scenario as the report keeps it.
struct PhaseRecord {
  std::string szName;
  double dStartSec = 0;   // seconds since 1970
  double dLengthSec = 0;  // until it ended (so far while it runs)
  bool bCompleted = false;
  bool bEnded = false;
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
  // Adds up the messages the online devices were due to send since the
  // previous sample (at most one sample a second; the console loop calls it
  // often). The rate thresholds compare the messages sent with this sum.
  void Sample();
  // One short stats line for the console: time, devices online of those
  // asked, the message rates, the interval's login p99 and the failure kinds
  // counted so far. The stats file's row has every figure.
  std::string StatsLine();
  // The summary block, taken before the fleet closes, and the exit status
  // (the stats file gets a last row for the time since its previous one):
  // PASS when every device asked to go online was online at the end (or the
  // --expect-online share of them), at most --allow-failures failures were
  // counted and every --threshold holds; FAIL otherwise, with a line that
  // names what failed.
  std::string Summary(int* pStatus);
  // The port the metrics are served on (0 without).
  uint16_t MetricsPort() const { return metrics.Port(); }

  // What the stats file's first row says of the run: the command line, the
  // shard ("I/N", empty when none) and the scenario file (empty when none).
  void SetRunInfo(const std::vector<std::string>& argv, const std::string& shard, const std::string& scenario);
  // A scenario's phase begins: its name goes into every later stats line,
  // row and the metrics. The previous phase, if any, ended completed.
  void PhaseStarted(const std::string& name);
  // The phase running now ends; completed false when it failed or the run
  // was stopped during it.
  void PhaseEnded(bool completed);

 private:
  void SampleAt(double nowSec);
  std::string PhaseLines(double now) const;
  std::string RunMember();
  std::string EndMember(const std::vector<std::pair<std::string, ThresholdResult>>& judged, bool bPass,
                        double now) const;
  std::string CurrentPhase() const;
  StatFigures Row(const FleetStats& st, double now, LatencySet* times, const std::string& extra = "");
  RunMeasures Measures(const FleetStats& st);
  std::string Thresholds(const RunMeasures& m, std::string* why,
                         std::vector<std::pair<std::string, ThresholdResult>>* judged) const;

  CFleet& fleet;
  CliReportOptions opts;
  CStatsReport stats;
  CLatencyInterval interval;  // the stats lines' times
  CMetricsServer metrics;
  double startSec;
  double sampleSec;          // the previous Sample
  ExpectedRates rateNow;     // the expected rates at that sample
  double expected[MSG_KINDS] = {};  // messages due since the start, by kind
  std::vector<std::string> runArgv;
  std::string szShard;
  std::string szScenario;
  bool bRunWritten = false;
  std::vector<PhaseRecord> phases;
  mutable std::mutex phaseLock;  // szPhase: the metrics thread reads it
  std::string szPhase;
};
