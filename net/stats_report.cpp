#include "net/stats_report.h"

#include <json/value.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "net/json_writer.h"

namespace {

void WriteAll(int fd, const std::string& text) {
  size_t off = 0;
  while (off < text.size()) {
    ssize_t n = write(fd, text.data() + off, text.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::string UtcStamp(double unixSec) {
  time_t t = static_cast<time_t>(unixSec);
  tm parts{};
  gmtime_r(&t, &parts);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return buf;
}

double UnixNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string FigureText(double value, int32_t decimals) {
  char buf[48];
  if (std::fabs(value - std::round(value)) < 1e-9 && std::fabs(value) < 1e15) {
    snprintf(buf, sizeof buf, "%.0f", value);
  } else {
    snprintf(buf, sizeof buf, "%.*f", static_cast<int>(decimals), value);
  }
  return buf;
}

void CStatsReport::SetText(const std::string& name, const std::string& value) {
  for (auto& t : texts) {
    if (t.first == name) {
      t.second = value;
      return;
    }
  }
  texts.emplace_back(name, value);
}

CStatsReport::~CStatsReport() {
  if (fd >= 0) close(fd);
}

bool CStatsReport::OpenFile(const std::string& path, const std::string& format, std::string* why) {
  if (format != STATS_FORMAT_CSV && format != STATS_FORMAT_JSONL) {
    *why = "unknown stats format " + format + " (csv or jsonl)";
    return false;
  }
  int f = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (f < 0) {
    *why = "cannot create " + path + " (" + strerror(errno) + ")";
    return false;
  }
  if (fd >= 0) close(fd);
  fd = f;
  bJsonl = format == STATS_FORMAT_JSONL;
  bHeaderWritten = false;
  return true;
}

std::string CStatsReport::Report(const StatFigures& figures, double nowSec, const std::string& jsonMembers) {
  double interval = previousSec < 0 ? 0 : nowSec - previousSec;
  previous.resize(figures.size(), 0);
  rates.assign(figures.size(), 0);
  std::string stamp = UtcStamp(nowSec);
  std::string line = stamp;
  for (const auto& [name, value] : texts) line += " " + name + "=" + value;
  for (size_t i = 0; i < figures.size(); ++i) {
    const StatFigure& f = figures[i];
    line += " " + f.szName + "=" + (f.bAbsent ? std::string("-") : FigureText(f.value, f.nDecimals));
    if (!f.bCounter) continue;
    rates[i] = interval > 0 ? (f.value - previous[i]) / interval : 0;
    line += " " + f.szName + "/s=" + FigureText(rates[i]);
  }
  if (fd >= 0) WriteRow(figures, stamp, jsonMembers);
  for (size_t i = 0; i < figures.size(); ++i) previous[i] = figures[i].value;
  previousSec = nowSec;
  return line;
}

void CStatsReport::WriteRow(const StatFigures& figures, const std::string& stamp, const std::string& jsonMembers) {
  std::string row;
  if (bJsonl) {
    row = "{\"time\":\"" + stamp + "\"";
    for (const auto& [name, value] : texts) row += ",\"" + name + "\":" + WriteCompactJson(Json::Value(value));
    for (size_t i = 0; i < figures.size(); ++i) {
      if (figures[i].bAbsent) continue;
      row += ",\"" + figures[i].szName + "\":" + FigureText(figures[i].value, figures[i].nDecimals);
      if (figures[i].bCounter) row += ",\"" + figures[i].szName + "_per_s\":" + FigureText(rates[i]);
    }
    row += jsonMembers + "}\n";
    return WriteAll(fd, row);
  }
  if (!bHeaderWritten) {
    std::string header = "time";
    for (const auto& t : texts) header += "," + t.first;
    for (const StatFigure& f : figures) header += "," + f.szName + (f.bCounter ? "," + f.szName + "_per_s" : "");
    WriteAll(fd, header + "\n");
    bHeaderWritten = true;
  }
  row = stamp;
  for (const auto& t : texts) row += "," + CsvField(t.second);
  for (size_t i = 0; i < figures.size(); ++i) {
    row += "," + (figures[i].bAbsent ? std::string() : FigureText(figures[i].value, figures[i].nDecimals));
    if (figures[i].bCounter) row += "," + FigureText(rates[i]);
  }
  WriteAll(fd, row + "\n");
}

std::string PrometheusText(const StatFigures& figures, const std::string& prefix) {
  std::string out;
  for (const StatFigure& f : figures) {
    std::string base = f.szName;
    double value = f.value;
    // Prometheus wants base units: "pass_ms" is served as "pass_seconds".
    if (base.size() > 3 && base.compare(base.size() - 3, 3, "_ms") == 0) {
      base.replace(base.size() - 3, 3, "_seconds");
      value /= 1000.0;
    }
    // and a rate "..._per_s" as "..._per_second".
    if (base.size() > 6 && base.compare(base.size() - 6, 6, "_per_s") == 0) base += "econd";
    std::string name = prefix + base + (f.bCounter ? "_total" : "");
    char text[40];
    snprintf(text, sizeof text, "%.10g", value);
    out += "# HELP " + name + " " + f.szHelp + "\n";
    out += "# TYPE " + name + (f.bCounter ? " counter\n" : " gauge\n");
    out += name + " " + text + "\n";
  }
  return out;
}
