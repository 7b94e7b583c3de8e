#include "app/cli/cli_report.h"

#include <cstdio>

#include "app/fleet_figures.h"
#include "net/json_writer.h"
#include "net/load_counters.h"

namespace {

constexpr double kSampleSec = 1.0;

double Figure(const StatFigures& f, const std::string& name) {
  for (const StatFigure& x : f)
    if (x.szName == name) return x.value;
  return 0;
}

size_t FigureIndex(const StatFigures& f, const std::string& name) {
  for (size_t i = 0; i < f.size(); ++i)
    if (f[i].szName == name) return i;
  return f.size();
}

std::string FailureList() {
  std::string out;
  for (int32_t k = 0; k < FAIL_KINDS; ++k) {
    if (FailureCount(k) == 0) continue;
    out += (out.empty() ? "" : ", ") + std::string(LoadFailureName(k)) + " " + std::to_string(FailureCount(k));
  }
  return out;
}

std::string Rate(double n, double sec) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f/s", sec > 0 ? n / sec : 0.0);
  return buf;
}

int64_t Wanted(const FleetStats& st) { return st.nOnline + st.nConnecting + st.nRampPending; }

// The thresholds --allow-failures and --expect-online stand for.
std::vector<Threshold> ImpliedThresholds(const CliReportOptions& o) {
  std::vector<Threshold> out(2);
  std::string why;
  ParseThreshold("failures<=" + std::to_string(o.nAllowFailures), &out[0], &why);
  ParseThreshold("online>=" + FigureText(o.dExpectOnlinePct) + "%", &out[1], &why);
  out[1].dValue = o.dExpectOnlinePct;  // the share exactly as given
  return out;
}

// Why an implied threshold failed, in the words the verdict has always used.
std::string ImpliedWhy(const Threshold& t, const RunMeasures& m, const CliReportOptions& o) {
  if (t.nMetric == THR_FAILURES)
    return std::to_string(FailureTotal()) + " failures (" + FailureList() + "), " + std::to_string(o.nAllowFailures) +
           " allowed";
  char text[120];
  snprintf(text, sizeof text, "%lld of %lld devices asked online were online at the end (%.0f%% expected)",
           static_cast<long long>(m.nOnline), static_cast<long long>(m.nWanted), o.dExpectOnlinePct);
  return text;
}

}  // namespace

std::string CliMetricsText(const CFleet& fleet, const std::string& phase) {
  std::string out = PrometheusText(FleetFigures(fleet.Stats()), "zel_cli_") +
                    PrometheusLatency(LatencySnapshotAll(), "zel_cli_");
  if (phase.empty()) return out;
  std::string label = phase;  // a label value escapes backslash, quote and line feed
  for (size_t at = 0; (at = label.find_first_of("\\\"\n", at)) != std::string::npos; at += 2)
    label.replace(at, 1, label[at] == '\n' ? "\\n" : std::string("\\") + label[at]);
  return out + "# HELP zel_cli_phase_info The scenario phase running now\n# TYPE zel_cli_phase_info gauge\n"
               "zel_cli_phase_info{phase=\"" + label + "\"} 1\n";
}

bool ParseThresholds(CliReportOptions* options, std::string* why) {
  options->thresholds.clear();
  for (const std::string& text : options->thresholdTexts) {
    Threshold t;
    if (!ParseThreshold(text, &t, why)) return false;
    options->thresholds.push_back(t);
  }
  return true;
}

CCliReport::CCliReport(CFleet& f) : fleet(f), startSec(UnixNow()), sampleSec(startSec) {
  stats.StartAt(startSec);
  stats.SetText("phase", "");
}

void CCliReport::SetRunInfo(const std::vector<std::string>& argv, const std::string& shard,
                            const std::string& scenario) {
  runArgv = argv;
  szShard = shard;
  szScenario = scenario;
}

std::string CCliReport::CurrentPhase() const {
  std::lock_guard<std::mutex> lock(phaseLock);
  return szPhase;
}

void CCliReport::PhaseStarted(const std::string& name) {
  if (!phases.empty() && !phases.back().bEnded) PhaseEnded(true);
  phases.push_back({name, UnixNow(), 0, false, false});
  stats.SetText("phase", name);
  std::lock_guard<std::mutex> lock(phaseLock);
  szPhase = name;
}

void CCliReport::PhaseEnded(bool completed) {
  if (phases.empty() || phases.back().bEnded) return;
  PhaseRecord& p = phases.back();
  p.dLengthSec = UnixNow() - p.dStartSec;
  p.bCompleted = completed;
  p.bEnded = true;
}

// ,"run":{...} for the file's first row.
std::string CCliReport::RunMember() {
  if (bRunWritten) return "";
  bRunWritten = true;
  Json::Value run;
  run["start"] = UtcStamp(startSec);
  Json::Value& argv = run["argv"];
  argv = Json::Value(Json::arrayValue);
  for (const std::string& a : runArgv) argv.append(a);
  if (!szShard.empty()) run["shard"] = szShard;
  if (!szScenario.empty()) run["scenario"] = szScenario;
  return ",\"run\":" + WriteCompactJson(run);
}

// ,"end":{...} for the file's last row: the verdict, the thresholds and the phases.
std::string CCliReport::EndMember(const std::vector<std::pair<std::string, ThresholdResult>>& judged, bool bPass,
                                  double now) const {
  Json::Value end;
  end["result"] = bPass ? "PASS" : "FAIL";
  end["duration_s"] = now - startSec;
  Json::Value& list = end["thresholds"];
  list = Json::Value(Json::arrayValue);
  for (const auto& [expr, r] : judged) {
    Json::Value t;
    t["expr"] = expr;
    t["measured"] = r.szMeasured;
    t["pass"] = r.bPass;
    list.append(t);
  }
  Json::Value& ph = end["phases"];
  ph = Json::Value(Json::arrayValue);
  for (const PhaseRecord& p : phases) {
    Json::Value v;
    v["name"] = p.szName;
    v["start"] = UtcStamp(p.dStartSec);
    v["length_s"] = p.bEnded ? p.dLengthSec : now - p.dStartSec;
    v["completed"] = p.bCompleted;
    ph.append(v);
  }
  return ",\"end\":" + WriteCompactJson(end);
}

// "phases:" with one line per phase: its start (seconds into the run), its
// length and whether it completed.
std::string CCliReport::PhaseLines(double now) const {
  if (phases.empty()) return "";
  std::string out = "phases:\n";
  for (const PhaseRecord& p : phases) {
    char row[200];
    snprintf(row, sizeof row, "  %-20s start %7.1f s  length %7.1f s  %s\n", p.szName.c_str(), p.dStartSec - startSec,
             p.bEnded ? p.dLengthSec : now - p.dStartSec, p.bCompleted ? "completed" : "not completed");
    out += row;
  }
  return out;
}

bool CCliReport::Start(const CliReportOptions& options, std::string* why) {
  opts = options;
  if (!opts.szStatsFile.empty() && !stats.OpenFile(opts.szStatsFile, opts.szStatsFormat, why)) return false;
  if (opts.szMetrics.empty()) return true;
  return metrics.Start(opts.szMetrics, [this] { return CliMetricsText(fleet, CurrentPhase()); }, why);
}

void CCliReport::Sample() {
  double now = UnixNow();
  if (now - sampleSec >= kSampleSec) SampleAt(now);
}

// The rates found at the previous sample held until now.
void CCliReport::SampleAt(double nowSec) {
  double dt = nowSec - sampleSec;
  if (dt > 0) {
    expected[MSG_GPS] += rateNow.dGps * dt;
    expected[MSG_ALARM] += rateNow.dAlarms * dt;
    expected[MSG_KEEPALIVE] += rateNow.dKeepAlives * dt;
  }
  rateNow = fleet.Stats().expected;
  sampleSec = nowSec;
}

// Every figure of the interval that ends now: the stats file's row.
StatFigures CCliReport::Row(const FleetStats& st, double now, LatencySet* times, const std::string& extra) {
  StatFigures f = FleetFigures(st);
  *times = interval.Take();
  AddLatencyFigures(f, *times);
  stats.Report(f, now, LatencyBucketMembers(*times) + RunMember() + extra);
  return f;
}

std::string CCliReport::StatsLine() {
  double now = UnixNow();
  FleetStats st = fleet.Stats();
  LatencySet times;
  StatFigures f = Row(st, now, &times);
  std::string line = UtcStamp(now);
  std::string phase = CurrentPhase();
  if (!phase.empty()) line += " phase=" + phase;
  line += " online=" + std::to_string(st.nOnline) + "/" + std::to_string(Wanted(st));
  for (const char* name : {"gps", "alarms", "keepalives", "logins"}) {
    size_t i = FigureIndex(f, name);
    if (i < stats.Rates().size()) line += std::string(" ") + name + "/s=" + FigureText(stats.Rates()[i]);
  }
  const CLatencyHistogram& login = times[LAT_LOGIN];
  line += " login_p99=" + (login.Count() ? MsText(login.PercentileUs(0.99) / 1000.0) + "ms" : std::string("-"));
  for (int32_t k = 0; k < FAIL_KINDS; ++k)
    if (FailureCount(k) != 0) line += std::string(" ") + LoadFailureName(k) + "=" + std::to_string(FailureCount(k));
  return line;
}

RunMeasures CCliReport::Measures(const FleetStats& st) {
  RunMeasures m;
  m.latency = LatencySnapshotAll();
  for (int32_t k = 0; k < FAIL_KINDS; ++k) m.failures[k] = FailureCount(k);
  m.nOnline = st.nOnline;
  m.nWanted = Wanted(st);
  for (int32_t k = 0; k < MSG_KINDS; ++k) {
    m.sent[k] = MessageCount(k);
    m.expected[k] = expected[k];
  }
  return m;
}

// The thresholds block; the failed ones' reasons are appended to *why.
std::string CCliReport::Thresholds(const RunMeasures& m, std::string* why,
                                   std::vector<std::pair<std::string, ThresholdResult>>* judged) const {
  std::string out = "thresholds:\n";
  std::vector<Threshold> implied = ImpliedThresholds(opts);
  std::vector<const Threshold*> all;
  for (const Threshold& t : implied) all.push_back(&t);
  for (const Threshold& t : opts.thresholds) all.push_back(&t);
  for (size_t i = 0; i < all.size(); ++i) {
    const Threshold& t = *all[i];
    ThresholdResult r = JudgeThreshold(t, m);
    judged->emplace_back(t.szText, r);
    char row[160];
    snprintf(row, sizeof row, "  %-24s %-14s %s\n", t.szText.c_str(), r.szMeasured.c_str(), r.bPass ? "PASS" : "FAIL");
    out += row;
    if (r.bPass) continue;
    std::string reason = i < implied.size() ? ImpliedWhy(t, m, opts) : "threshold " + t.szText + " (" + r.szMeasured + ")";
    *why += (why->empty() ? "" : "; ") + reason;
  }
  return out;
}

std::string CCliReport::Summary(int* pStatus) {
  double now = UnixNow();
  SampleAt(now);
  if (!phases.empty() && !phases.back().bEnded) PhaseEnded(false);
  FleetStats st = fleet.Stats();
  StatFigures f = FleetFigures(st);
  double sec = now - startSec;
  RunMeasures m = Measures(st);
  uint32_t failures = FailureTotal();
  char head[200];
  snprintf(head, sizeof head, "duration %.1f s, devices %.0f, online at the end %lld of %lld asked\n", sec,
           Figure(f, "devices"), static_cast<long long>(m.nOnline), static_cast<long long>(m.nWanted));
  std::string out = "== summary ==\n" + std::string(head);
  std::string messages;
  for (int32_t k = 0; k < MSG_KINDS; ++k)
    messages += std::string(k ? ", " : "") + LoadMessageName(k) + " " + std::to_string(MessageCount(k));
  out += "messages: " + messages + "; bytes " + FigureText(Figure(f, "bytes")) + "\n";
  out += "rates: gps " + Rate(Figure(f, "gps"), sec) + ", alarms " + Rate(Figure(f, "alarms"), sec) + ", keepalives " +
         Rate(Figure(f, "keepalives"), sec) + ", logins " + Rate(Figure(f, "logins"), sec) + "\n";
  out += "failures: " + (failures ? FailureList() : std::string("none")) + "\n";
  out += "latency:\n" + LatencySummaryLines(m.latency);
  out += PhaseLines(now);
  std::string why;
  for (const PhaseRecord& p : phases)
    if (!p.bCompleted) why += (why.empty() ? "" : "; ") + ("phase " + p.szName + " did not complete");
  std::vector<std::pair<std::string, ThresholdResult>> judged;
  out += Thresholds(m, &why, &judged);
  *pStatus = why.empty() ? CLI_EXIT_PASS : CLI_EXIT_FAIL;
  out += why.empty() ? "result: PASS\n" : "result: FAIL: " + why + "\n";
  // The file ends with the interval since its last row, so it holds the whole
  // run, and with the verdict.
  LatencySet last;
  if (stats.HasFile()) Row(st, now, &last, EndMember(judged, why.empty(), now));
  return out;
}
