#include "app/cli/scenario_runner.h"

#include <algorithm>
#include <cmath>

#include "app/cli/cli_core.h"

namespace {
constexpr int32_t kPollMs = 200;  // how often a condition (a ramp, a wait) is looked at

std::string Seconds(double sec) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f s", sec);
  return buf;
}
}  // namespace

CScenarioRunner::CScenarioRunner(CFleet& f, CCliReport& r, const Scenario& s)
    : fleet(f), report(r), phases(s.phases), scenario(s) {}

bool CScenarioRunner::Prepare(std::string* why) {
  if (!scenario.szServer.empty() || scenario.bHasFrames) {
    std::string reg = scenario.szServer.empty() ? fleet.Reg() : scenario.szServer;
    fleet.ApplySettings(reg, scenario.bHasFrames ? scenario.szFrames : fleet.Vf());
  }
  if (scenario.devices.empty()) return true;
  // The scenario's batches are the whole fleet.
  std::vector<int32_t> all(static_cast<size_t>(fleet.RowCount()));
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int32_t>(i);
  fleet.DeleteDevices(all);
  for (const ScenarioBatch& b : scenario.devices) {
    int32_t first = fleet.RowCount();
    std::string taken;
    int32_t added = fleet.AddDevices(b.szBase, b.nCount, &taken);
    if (added == FLEET_ADD_DUPLICATE) return *why = "the batch " + b.szBase + " repeats the ID " + taken, false;
    if (added != b.nCount)
      return *why = "the batch " + b.szBase + " has " + std::to_string(b.nCount) + " devices; a process adds at most " +
                    std::to_string(FLEET_MAX_BATCH) + " per batch unless it is a shard (--shard I/N)",
             false;
    ApplyOptions(b.options, first, fleet.RowCount());
  }
  return true;
}

// Each device keeps its own values but those given.
void CScenarioRunner::ApplyOptions(const OptionPairs& options, int32_t first, int32_t end) {
  if (options.empty()) return;
  for (int32_t row = first; row < end; ++row) {
    DeviceProperties props = fleet.DialogProperties({row});
    for (const auto& [key, value] : options) {
      std::string why;
      ParseOptionPair(key + "=" + std::to_string(value), props, why);
    }
    fleet.ApplyProperties({row}, props);
  }
}

std::vector<int32_t> CScenarioRunner::Rows(bool bOffline) const {
  std::vector<int32_t> rows;
  int32_t n = fleet.RowCount();
  for (int32_t row = 0; row < n; ++row) {
    bool want = false;
    bool online = false;
    fleet.WithDevice(row, [&](CDevQ5& d) {
      want = d.WantsOnline();
      online = d.IsOnline();
    });
    if (bOffline ? !want : online) rows.push_back(row);
  }
  return rows;
}

std::vector<int32_t> CScenarioRunner::Pick(const std::vector<int32_t>& rows, double sharePct) {
  size_t k = static_cast<size_t>(std::llround(static_cast<double>(rows.size()) * sharePct / 100.0));
  std::vector<int32_t> out;
  if (rows.empty() || k == 0) return out;
  for (size_t i = 0; i < k; ++i) out.push_back(rows[(nPickOffset + i) % rows.size()]);
  nPickOffset += k;
  std::sort(out.begin(), out.end());
  return out;
}

void CScenarioRunner::StartPhase(double now, std::string& out) {
  const ScenarioPhase& p = phases[nPhase];
  bStarted = true;
  bActionOk = true;
  phaseStart = now;
  nextStep = now;
  report.PhaseStarted(p.szName);
  out += "phase " + p.szName + " started\n";
  std::string why;
  switch (p.nKind) {
    case PH_ONLINE: {
      std::vector<int32_t> rows = p.dSharePct >= 100 ? std::vector<int32_t>{} : Pick(Rows(true), p.dSharePct);
      if (p.dSharePct < 100 && rows.empty()) break;
      if (!fleet.GoOnline(rows, &why, p.dRate)) {
        out += "error: phase " + p.szName + ": " + why + "\n";
        bActionOk = false;
      }
      break;
    }
    case PH_OFFLINE: {
      std::vector<int32_t> rows = Pick(Rows(false), p.dSharePct);
      if (!rows.empty()) fleet.TakeOffline(rows);
      break;
    }
    case PH_ALARM:
      alarmRows = Pick(Rows(false), p.dSharePct);
      nAlarmSent = 0;
      break;
    case PH_OPTIONS: ApplyOptions(p.options, 0, fleet.RowCount()); break;
    case PH_SEND:
      for (int32_t row : Pick(Rows(false), p.dSharePct)) fleet.UploadCommand({row}, p.szJson);
      break;
    default: break;
  }
}

// Sends the alarms whose time has come: the i-th of k at start + i x within / k.
void CScenarioRunner::AlarmStep(double now) {
  const ScenarioPhase& p = phases[nPhase];
  size_t k = alarmRows.size();
  while (nAlarmSent < k) {
    double at = phaseStart + p.dWithinSec * static_cast<double>(nAlarmSent) / static_cast<double>(k);
    if (at > now) {
      nextStep = at;
      return;
    }
    fleet.SendEmergencyAlarm({alarmRows[nAlarmSent++]});
  }
}

void CScenarioRunner::ChurnStep(double now) {
  const ScenarioPhase& p = phases[nPhase];
  while (nextStep <= now && nextStep < phaseStart + p.dDurationSec) {
    std::vector<int32_t> rows = Pick(Rows(false), p.dSharePct);
    if (!rows.empty()) {
      fleet.TakeOffline(rows);
      returns.push_back({nextStep + p.dAwaySec, rows});
    }
    nextStep += p.dEverySec;
  }
}

void CScenarioRunner::ReturnChurned(double now) {
  while (!returns.empty() && returns.front().at <= now) {
    std::string why;
    fleet.GoOnline(returns.front().rows, &why);
    returns.pop_front();
  }
}

// Moves the running action on; true when it is done.
bool CScenarioRunner::ActionDone(double now, std::string& out) {
  const ScenarioPhase& p = phases[nPhase];
  switch (p.nKind) {
    case PH_ONLINE: return fleet.Stats().nRampPending == 0;
    case PH_WAIT: {
      FleetStats st = fleet.Stats();
      if (st.nDevices > 0 && 100.0 * st.nOnline >= p.dOnlinePct * st.nDevices) return true;
      if (st.nDevices == 0 && p.dOnlinePct <= 0) return true;
      if (now - phaseStart < p.dTimeoutSec) return false;
      out += "error: phase " + p.szName + ": " + FigureText(100.0 * st.nOnline / std::max(1, st.nDevices)) +
             "% online after " + Seconds(p.dTimeoutSec) + ", " + FigureText(p.dOnlinePct) + "% wanted\n";
      bActionOk = false;
      return true;
    }
    case PH_ALARM: AlarmStep(now); return nAlarmSent >= alarmRows.size();
    case PH_CHURN: ChurnStep(now); return false;
    default: return true;
  }
}

void CScenarioRunner::EndPhase(bool completed, std::string& out) {
  const ScenarioPhase& p = phases[nPhase];
  report.PhaseEnded(completed);
  if (!completed) failed.push_back(p.szName);
  out += "phase " + p.szName + (completed ? " completed\n" : " did not complete\n");
  ++nPhase;
  bStarted = false;
}

void CScenarioRunner::Step(double now, std::string& out) {
  ReturnChurned(now);
  while (!Done()) {
    if (!bStarted) StartPhase(now, out);
    const ScenarioPhase& p = phases[nPhase];
    bool done = !bActionOk || ActionDone(now, out);
    bool timed = p.dDurationSec >= 0;
    if (timed && now < phaseStart + p.dDurationSec) return;
    if (!timed && !done) return;
    // A timed wait that ran out before its share was online did not complete.
    EndPhase(bActionOk && (done || p.nKind == PH_CHURN || p.nKind == PH_HOLD), out);
  }
}

double CScenarioRunner::DueAt() const {
  if (Done()) return returns.empty() ? 1e300 : returns.front().at;
  const ScenarioPhase& p = phases[nPhase];
  double due = 1e300;
  if (p.dDurationSec >= 0) due = phaseStart + p.dDurationSec;
  if (p.nKind == PH_ALARM || p.nKind == PH_CHURN) due = std::min(due, nextStep);
  if (!returns.empty()) due = std::min(due, returns.front().at);
  return due;
}

int32_t CScenarioRunner::MsUntilDue(double now) const {
  if (!Done() && !bStarted) return 0;
  double ms = (DueAt() - now) * 1000.0;
  if (ms < 0) return 0;
  return ms > kPollMs ? kPollMs : static_cast<int32_t>(std::ceil(ms));
}
