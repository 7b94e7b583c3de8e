#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "net/latency_figures.h"
#include "net/load_counters.h"

// Pass/fail conditions on a run's figures, written NAME OP VALUE with blanks
// allowed between the parts ("login_p99<500ms", "online >= 95%"):
//   NAME  KIND_p50, _p90, _p95, _p99 or _max for the kinds connect, login,
//         stream and recovery (a time: VALUE in ms, the default, or s);
//         failures (all kinds) or one failure kind by its name (a count, no
//         unit); online (the share of the devices asked to go online that are
//         online at the end); gps_rate, alarm_rate, keepalive_rate (the run's
//         messages as a share of those expected); shares in %, the default
//   OP    <, <=, >, >=, ==
enum ThresholdMetric : int32_t { THR_LATENCY, THR_FAILURES, THR_ONLINE, THR_RATE };
enum ThresholdOp : int32_t { THR_LT, THR_LE, THR_GT, THR_GE, THR_EQ };

struct Threshold {
  std::string szText;  // as given, blanks removed
  ThresholdMetric nMetric = THR_FAILURES;
  int32_t nKind = -1;  // the latency kind, the failure kind (-1 all) or the message kind of a rate
  double dQuantile = 0;  // a latency's share (0.5 ...), -1 for the max
  ThresholdOp nOp = THR_LE;
  double dValue = 0;  // ms, a count or %
};

// Parses text; false with a message naming it in *why.
bool ParseThreshold(const std::string& text, Threshold* out, std::string* why);

// What the thresholds are judged on, taken at the end of the run.
struct RunMeasures {
  LatencySet latency;            // every time of the run
  uint32_t failures[FAIL_KINDS] = {};
  int64_t nOnline = 0;           // online at the end
  int64_t nWanted = 0;           // asked to go online
  // Messages sent and expected by kind (MSG_GPS, MSG_ALARM, MSG_KEEPALIVE).
  double sent[MSG_KINDS] = {};
  double expected[MSG_KINDS] = {};
};

struct ThresholdResult {
  bool bPass = false;
  bool bMeasured = false;  // false: nothing to measure (no event, nothing expected)
  double dMeasured = 0;
  std::string szMeasured;  // "112.3ms", "3", "98.5%", "no events"
};

ThresholdResult JudgeThreshold(const Threshold& t, const RunMeasures& m);
