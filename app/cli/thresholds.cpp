#include "app/cli/thresholds.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

struct OpText {
  const char* szText;
  ThresholdOp nOp;
};
// Two-character operators first, so that "<=" is not read as "<".
constexpr OpText kOps[] = {{"<=", THR_LE}, {">=", THR_GE}, {"==", THR_EQ}, {"<", THR_LT}, {">", THR_GT}};

struct QuantileName {
  const char* szSuffix;
  double q;
};
constexpr QuantileName kQuantiles[] = {{"_p50", 0.5}, {"_p90", 0.9}, {"_p95", 0.95}, {"_p99", 0.99}, {"_max", -1}};

std::string WithoutBlanks(const std::string& text) {
  std::string out;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) out += c;
  return out;
}

bool EndsWith(const std::string& s, const char* tail, std::string* head) {
  std::string t(tail);
  if (s.size() <= t.size() || s.compare(s.size() - t.size(), t.size(), t) != 0) return false;
  *head = s.substr(0, s.size() - t.size());
  return true;
}

bool Named(Threshold* t, ThresholdMetric metric, int32_t kind) {
  t->nMetric = metric;
  t->nKind = kind;
  return true;
}

bool ParseLatencyName(const std::string& name, Threshold* t) {
  for (const QuantileName& q : kQuantiles) {
    std::string kind;
    if (!EndsWith(name, q.szSuffix, &kind)) continue;
    for (int32_t k = 0; k < LAT_KINDS; ++k) {
      if (kind != LatencyKindName(k)) continue;
      t->dQuantile = q.q;
      return Named(t, THR_LATENCY, k);
    }
  }
  return false;
}

bool ParseName(const std::string& name, Threshold* t) {
  if (ParseLatencyName(name, t)) return true;
  if (name == "failures") return Named(t, THR_FAILURES, -1);
  for (int32_t k = 0; k < FAIL_KINDS; ++k)
    if (name == LoadFailureName(k)) return Named(t, THR_FAILURES, k);
  if (name == "online") return Named(t, THR_ONLINE, -1);
  if (name == "gps_rate") return Named(t, THR_RATE, MSG_GPS);
  if (name == "alarm_rate") return Named(t, THR_RATE, MSG_ALARM);
  if (name == "keepalive_rate") return Named(t, THR_RATE, MSG_KEEPALIVE);
  return false;
}

bool Refuse(std::string* why, const char* reason) {
  *why = reason;
  return false;
}

// The number and its unit; the unit must suit the metric. Times are kept in
// ms, shares in %.
bool ParseValue(const std::string& text, Threshold* t, std::string* why) {
  const char* begin = text.c_str();
  char* end = nullptr;
  double v = strtod(begin, &end);
  if (end == begin || !std::isfinite(v) || !std::isdigit(static_cast<unsigned char>(*begin)))
    return Refuse(why, "the value is not a number");
  std::string unit(end);
  if (t->nMetric == THR_LATENCY) {
    if (unit == "s") v *= 1000;
    if (!unit.empty() && unit != "s" && unit != "ms") return Refuse(why, "a time takes ms or s");
  } else if (t->nMetric == THR_FAILURES) {
    if (!unit.empty()) return Refuse(why, "a count takes no unit");
  } else if (!unit.empty() && unit != "%") {
    return Refuse(why, "a share takes %");
  }
  t->dValue = v;
  return true;
}

bool Compare(double measured, ThresholdOp op, double value) {
  switch (op) {
    case THR_LT: return measured < value;
    case THR_LE: return measured <= value;
    case THR_GT: return measured > value;
    case THR_GE: return measured >= value;
    case THR_EQ: return measured == value;
  }
  return false;
}

std::string Percent(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f%%", v);
  return buf;
}

ThresholdResult Measure(const Threshold& t, const RunMeasures& m) {
  ThresholdResult r;
  switch (t.nMetric) {
    case THR_LATENCY: {
      const CLatencyHistogram& h = m.latency[static_cast<size_t>(t.nKind)];
      if (h.Count() == 0) {
        r.szMeasured = "no events";
        return r;
      }
      r.dMeasured = (t.dQuantile < 0 ? h.MaxUs() : h.PercentileUs(t.dQuantile)) / 1000.0;
      r.szMeasured = MsText(r.dMeasured) + "ms";
      break;
    }
    case THR_FAILURES:
      for (int32_t k = 0; k < FAIL_KINDS; ++k)
        if (t.nKind < 0 || t.nKind == k) r.dMeasured += m.failures[k];
      r.szMeasured = FigureText(r.dMeasured);
      break;
    case THR_ONLINE:
      // With nobody asked, everyone asked is online.
      r.dMeasured = m.nWanted > 0 ? 100.0 * static_cast<double>(m.nOnline) / static_cast<double>(m.nWanted) : 100;
      r.szMeasured = Percent(r.dMeasured);
      break;
    case THR_RATE:
      if (m.expected[t.nKind] <= 0) {
        r.szMeasured = "none expected";
        return r;
      }
      r.dMeasured = 100.0 * m.sent[t.nKind] / m.expected[t.nKind];
      r.szMeasured = Percent(r.dMeasured);
      break;
  }
  r.bMeasured = true;
  return r;
}

}  // namespace

bool ParseThreshold(const std::string& text, Threshold* out, std::string* why) {
  Threshold t;
  t.szText = WithoutBlanks(text);
  size_t at = t.szText.find_first_of("<>=");
  std::string reason;
  if (at == std::string::npos || at == 0) {
    reason = "expected NAME OP VALUE, OP one of < <= > >= ==";
  } else if (!ParseName(t.szText.substr(0, at), &t)) {
    reason = "unknown name " + t.szText.substr(0, at);
  } else {
    std::string rest = t.szText.substr(at);
    const OpText* op = nullptr;
    for (const OpText& o : kOps)
      if (rest.compare(0, std::char_traits<char>::length(o.szText), o.szText) == 0 && !op) op = &o;
    if (!op) {
      reason = "unknown operator in " + rest;
    } else {
      t.nOp = op->nOp;
      ParseValue(rest.substr(std::char_traits<char>::length(op->szText)), &t, &reason);
    }
  }
  if (!reason.empty()) return *why = "threshold " + text + ": " + reason, false;
  *out = t;
  return true;
}

ThresholdResult JudgeThreshold(const Threshold& t, const RunMeasures& m) {
  ThresholdResult r = Measure(t, m);
  r.bPass = r.bMeasured && Compare(r.dMeasured, t.nOp, t.dValue);
  return r;
}
