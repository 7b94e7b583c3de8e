#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/cli/cli_report.h"
#include "app/cli/scenario.h"
#include "app/fleet.h"

// Runs a scenario's phases one after another on the console's thread: each
// Step does what is due by now and says when it next has something to do.
// A phase starts with its action and lasts its duration (without one, until
// its action is done: at once for most, when the ramp has connected every
// device for online with a rate, when the share is online for wait). The
// run is over after the last phase.
class CScenarioRunner {
 public:
  CScenarioRunner(CFleet& fleet, CCliReport& report, const Scenario& scenario);

  // Sets the server and frames, replaces the fleet by the scenario's
  // batches (when it has any) and applies their options. False with the
  // reason in *why (a batch that would repeat an ID, one too large outside a
  // shard, an address that cannot be resolved); nothing is connected yet.
  bool Prepare(std::string* why);
  // Does what is due at nowSec (seconds, monotonic). Lines for the console
  // (a phase starting or failing) are appended to out.
  void Step(double nowSec, std::string& out);
  // Milliseconds from nowSec until the next Step has something to do.
  int32_t MsUntilDue(double nowSec) const;
  bool Done() const { return nPhase >= phases.size(); }
  // Phases that did not complete (a wait that timed out, an action refused).
  const std::vector<std::string>& Failed() const { return failed; }

 private:
  void StartPhase(double now, std::string& out);
  bool ActionDone(double now, std::string& out);
  void EndPhase(bool completed, std::string& out);
  void ChurnStep(double now);
  void AlarmStep(double now);
  void ReturnChurned(double now);
  // Rows of the devices online (or, with bOffline, not asked to go online),
  // in row order.
  std::vector<int32_t> Rows(bool bOffline) const;
  // share% of rows, taken from a point that moves on each call so that
  // repeated steps reach different devices.
  std::vector<int32_t> Pick(const std::vector<int32_t>& rows, double sharePct);
  void ApplyOptions(const OptionPairs& options, int32_t first, int32_t end);
  double DueAt() const;

  struct Return {
    double at;
    std::vector<int32_t> rows;
  };

  CFleet& fleet;
  CCliReport& report;
  std::vector<ScenarioPhase> phases;
  Scenario scenario;
  size_t nPhase = 0;
  bool bStarted = false;    // phases[nPhase] has started
  double phaseStart = 0;
  double nextStep = 0;      // churn: the next step; alarm: the next send
  std::vector<int32_t> alarmRows;  // alarm: the devices still to send
  size_t nAlarmSent = 0;
  size_t nPickOffset = 0;
  bool bActionOk = true;     // the action has not failed (a wait reached its share)
  std::deque<Return> returns;  // churned devices waiting to come back
  std::vector<std::string> failed;
};
