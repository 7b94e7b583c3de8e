#include "app/cli/cli_report.h"

#include <cstdio>

#include "app/fleet_figures.h"
#include "net/load_counters.h"

namespace {

double Figure(const StatFigures& f, const std::string& name) {
  for (const StatFigure& x : f)
    if (x.szName == name) return x.value;
  return 0;
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

}  // namespace

CCliReport::CCliReport(CFleet& f) : fleet(f), startSec(UnixNow()) { stats.StartAt(startSec); }

bool CCliReport::Start(const CliReportOptions& options, std::string* why) {
  opts = options;
  if (!opts.szStatsFile.empty() && !stats.OpenFile(opts.szStatsFile, opts.szStatsFormat, why)) return false;
  if (opts.szMetrics.empty()) return true;
  return metrics.Start(opts.szMetrics, [this] { return PrometheusText(FleetFigures(fleet.Stats()), "zel_cli_"); },
                       why);
}

std::string CCliReport::StatsLine() { return stats.Report(FleetFigures(fleet.Stats()), UnixNow()); }

std::string CCliReport::Summary(int* pStatus) {
  StatFigures f = FleetFigures(fleet.Stats());
  double sec = UnixNow() - startSec;
  int64_t wanted = static_cast<int64_t>(Figure(f, "online") + Figure(f, "connecting") + Figure(f, "ramp_pending"));
  int64_t online = static_cast<int64_t>(Figure(f, "online"));
  uint32_t failures = FailureTotal();
  char head[200];
  snprintf(head, sizeof head, "duration %.1f s, devices %.0f, online at the end %lld of %lld asked\n", sec,
           Figure(f, "devices"), static_cast<long long>(online), static_cast<long long>(wanted));
  std::string out = "== summary ==\n" + std::string(head);
  std::string messages;
  for (int32_t k = 0; k < MSG_KINDS; ++k)
    messages += std::string(k ? ", " : "") + LoadMessageName(k) + " " + std::to_string(MessageCount(k));
  out += "messages: " + messages + "; bytes " + FigureText(Figure(f, "bytes")) + "\n";
  out += "rates: gps " + Rate(Figure(f, "gps"), sec) + ", alarms " + Rate(Figure(f, "alarms"), sec) + ", keepalives " +
         Rate(Figure(f, "keepalives"), sec) + ", logins " + Rate(Figure(f, "logins"), sec) + "\n";
  out += "failures: " + (failures ? FailureList() : std::string("none")) + "\n";
  std::string why;
  if (failures > static_cast<uint32_t>(opts.nAllowFailures))
    why = std::to_string(failures) + " failures (" + FailureList() + "), " + std::to_string(opts.nAllowFailures) +
          " allowed";
  if (static_cast<double>(online) * 100.0 < opts.dExpectOnlinePct * static_cast<double>(wanted)) {
    char text[120];
    snprintf(text, sizeof text, "%lld of %lld devices asked online were online at the end (%.0f%% expected)",
             static_cast<long long>(online), static_cast<long long>(wanted), opts.dExpectOnlinePct);
    why += (why.empty() ? "" : "; ") + std::string(text);
  }
  *pStatus = why.empty() ? CLI_EXIT_PASS : CLI_EXIT_FAIL;
  out += why.empty() ? "result: PASS\n" : "result: FAIL: " + why + "\n";
  return out;
}
