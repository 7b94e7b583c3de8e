#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One figure of a load test's statistics.
struct StatFigure {
  std::string szName;  // snake_case: "gps_messages", "devices_online"
  std::string szHelp;  // one line for the metrics' HELP
  bool bCounter = false;  // a total that only grows (rates, "_total"); else a level
  double value = 0;
  bool bAbsent = false;   // no value this time (a percentile of no event): "-", an empty cell, no JSON member
  int32_t nDecimals = 1;  // digits after the point of a value that is not whole
};
using StatFigures = std::vector<StatFigure>;

// Appends a level (a figure that goes up and down) or a counter.
inline void AddLevel(StatFigures& f, const std::string& name, const std::string& help, double v) {
  f.push_back({name, help, false, v});
}
inline void AddTotal(StatFigures& f, const std::string& name, const std::string& help, double v) {
  f.push_back({name, help, true, v});
}
// A level that may have no value, shown with decimals digits.
inline void AddMaybe(StatFigures& f, const std::string& name, const std::string& help, bool bHas, double v,
                     int32_t decimals) {
  f.push_back({name, help, false, bHas ? v : 0, !bHas, decimals});
}

// Formats for CStatsReport::OpenFile.
constexpr const char* STATS_FORMAT_CSV = "csv";
constexpr const char* STATS_FORMAT_JSONL = "jsonl";

// Statistics lines for people and files for machines, the same in zel-cli and
// zel-server. Each Report gives one line that starts with a UTC time stamp
// and shows every figure, with the rate per second over the interval since
// the previous report beside each counter:
//   2026-12-09T21:30:00Z devices=100 online=100 gps_messages=1200 gps_messages/s=10.0 ...
// With a file open, the same figures go there as one CSV row (after a header
// row) or one JSON object per line. One thread at a time.
class CStatsReport {
 public:
  CStatsReport() = default;
  ~CStatsReport();
  CStatsReport(const CStatsReport&) = delete;
  CStatsReport& operator=(const CStatsReport&) = delete;

  // Creates (or empties) path for rows of format (csv or jsonl). False with
  // the reason in *why.
  bool OpenFile(const std::string& path, const std::string& format, std::string* why);
  // The line for figures taken at nowSec (seconds since 1970, UTC); also
  // writes the file's row. The first report's rates count from StartAt's
  // time (none before StartAt). jsonMembers (",\"key\":value..." ) go into
  // a JSON-lines row only, after the figures.
  std::string Report(const StatFigures& figures, double nowSec, const std::string& jsonMembers = "");
  // The run began at sec with every counter at zero.
  void StartAt(double sec) { previousSec = sec; }
  // A text shown after the time stamp of every later line and row (a CSV
  // column: set it before the first row). Set again to change its value.
  void SetText(const std::string& name, const std::string& value);
  // True while a file is open.
  bool HasFile() const { return fd >= 0; }
  // Rates per second of the counters over the last interval, by index of
  // figures (0 for levels); valid after Report.
  const std::vector<double>& Rates() const { return rates; }

 private:
  void WriteRow(const StatFigures& figures, const std::string& stamp, const std::string& jsonMembers);

  std::vector<std::pair<std::string, std::string>> texts;
  std::vector<double> previous;
  std::vector<double> rates;
  double previousSec = -1;
  int fd = -1;
  bool bJsonl = false;
  bool bHeaderWritten = false;
};

// "2026-12-09T21:30:00Z".
std::string UtcStamp(double unixSec);
// Seconds since 1970 now, with a fraction.
double UnixNow();
// A rate or figure as text: integers without a fraction, others with one
// digit (or decimals digits).
std::string FigureText(double value, int32_t decimals = 1);

// The figures in the Prometheus text format, each named prefix + name;
// counters end in "_total", a figure in milliseconds ("..._ms") is served
// in seconds ("..._seconds"), the unit Prometheus expects, and a rate
// ("..._per_s") with its unit spelt out ("..._per_second").
std::string PrometheusText(const StatFigures& figures, const std::string& prefix);
