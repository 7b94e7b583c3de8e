#include "app/cli/scenario.h"

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <cstdlib>
#include <set>

#include "app/cli/cli_core.h"
#include "app/cli/thresholds.h"
#include "app/fleet.h"

namespace {

// A refusal: the file, the line of the node and the key it concerns.
struct Refusal {
  std::string text;
};

[[noreturn]] void Refuse(const YAML::Node& at, const std::string& key, const std::string& what) {
  int line = at.Mark().line + 1;
  throw Refusal{std::to_string(line > 0 ? line : 1) + ": " + key + ": " + what};
}

void OnlyKeys(const YAML::Node& map, const std::string& where, const std::set<std::string>& allowed) {
  if (!map.IsMap()) Refuse(map, where, "expected a mapping of keys");
  for (const auto& kv : map) {
    std::string key = kv.first.Scalar();
    if (!allowed.count(key)) Refuse(kv.first, key, "unknown key in " + where);
  }
}

std::string Text(const YAML::Node& n, const std::string& key) {
  if (!n.IsScalar()) Refuse(n, key, "expected a single value");
  return n.Scalar();
}

double Number(const YAML::Node& n, const std::string& key, double lo, double hi) {
  std::string text = Text(n, key);
  char* end = nullptr;
  double v = strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
    Refuse(n, key, "'" + text + "' is not a number from " + FigureText(lo) + " to " + FigureText(hi));
  return v;
}

double Duration(const YAML::Node& n, const std::string& key) {
  double sec = 0;
  if (!ParseDurationText(Text(n, key), &sec)) Refuse(n, key, "'" + n.Scalar() + "' is not a duration (90s, 5m, 500ms, 1h)");
  return sec;
}

double Share(const YAML::Node& n, const std::string& key) {
  double pct = 0;
  if (!ParseShareText(Text(n, key), &pct)) Refuse(n, key, "'" + n.Scalar() + "' is not a share from 0% to 100%");
  return pct;
}

OptionPairs Options(const YAML::Node& map, const std::string& key) {
  if (!map.IsMap()) Refuse(map, key, "expected a mapping such as {GPS: 1, UP: 1}");
  OptionPairs out;
  for (const auto& kv : map) {
    std::string word = kv.first.Scalar() + "=" + Text(kv.second, kv.first.Scalar());
    DeviceProperties scratch;
    std::string why;
    if (!ParseOptionPair(word, scratch, why)) Refuse(kv.first, kv.first.Scalar(), why);
    int32_t value = 0;
    ParseInt32(kv.second.Scalar(), value);
    out.emplace_back(kv.first.Scalar(), value);
  }
  return out;
}

ScenarioBatch Batch(const YAML::Node& n) {
  OnlyKeys(n, "a device batch", {"base", "count", "options"});
  if (!n["base"] || !n["count"]) Refuse(n, "devices", "a batch needs base and count");
  ScenarioBatch b;
  b.szBase = Text(n["base"], "base");
  b.nCount = static_cast<int32_t>(Number(n["count"], "count", 1, FLEET_MAX_SHARD_BATCH));
  if (b.nCount != n["count"].as<double>()) Refuse(n["count"], "count", "a whole number is needed");
  if (n["options"]) b.options = Options(n["options"], "options");
  return b;
}

// The keys of one phase kind's action, read into p.
void Action(const std::string& kind, const YAML::Node& a, ScenarioPhase& p) {
  static const struct {
    const char* szKind;
    PhaseKind nKind;
    std::set<std::string> keys;
  } kKinds[] = {
      {"online", PH_ONLINE, {"rate", "share"}},        {"offline", PH_OFFLINE, {"share"}},
      {"wait", PH_WAIT, {"online", "timeout"}},        {"churn", PH_CHURN, {"share", "every", "away"}},
      {"alarm", PH_ALARM, {"share", "within"}},        {"send", PH_SEND, {"share", "json"}},
      {"hold", PH_HOLD, {}},
  };
  if (kind == "options") {
    p.nKind = PH_OPTIONS;
    p.options = Options(a, "options");
    return;
  }
  for (const auto& k : kKinds) {
    if (kind != k.szKind) continue;
    p.nKind = k.nKind;
    if (a.IsNull()) return;
    OnlyKeys(a, kind, k.keys);
    if (a["share"]) p.dSharePct = Share(a["share"], "share");
    if (a["rate"]) p.dRate = Number(a["rate"], "rate", 0, 1e6);
    if (a["online"]) p.dOnlinePct = Share(a["online"], "online");
    if (a["timeout"]) p.dTimeoutSec = Duration(a["timeout"], "timeout");
    if (a["every"]) p.dEverySec = Duration(a["every"], "every");
    if (a["away"]) p.dAwaySec = Duration(a["away"], "away");
    if (a["within"]) p.dWithinSec = Duration(a["within"], "within");
    if (a["json"]) p.szJson = Text(a["json"], "json");
    return;
  }
}

ScenarioPhase Phase(const YAML::Node& n, size_t index) {
  static const std::set<std::string> kActions = {"online", "offline", "wait",    "churn",
                                                 "alarm",  "options", "send",    "hold"};
  if (!n.IsMap()) Refuse(n, "phases", "a phase is a mapping with a name and one action");
  ScenarioPhase p;
  p.nLine = n.Mark().line + 1;
  p.szName = "phase" + std::to_string(index + 1);
  int actions = 0;
  for (const auto& kv : n) {
    std::string key = kv.first.Scalar();
    if (key == "name") {
      p.szName = Text(kv.second, key);
    } else if (key == "duration") {
      p.dDurationSec = Duration(kv.second, key);
    } else if (kActions.count(key)) {
      if (++actions > 1) Refuse(kv.first, key, "a phase has one action");
      Action(key, kv.second, p);
    } else {
      Refuse(kv.first, key, "unknown phase kind or key (name, duration, online, offline, wait, churn, alarm, "
                            "options, send, hold)");
    }
  }
  if (actions == 0 && p.dDurationSec < 0) Refuse(n, p.szName, "a phase needs an action or a duration");
  if (p.nKind == PH_CHURN && (p.dDurationSec <= 0 || p.dEverySec <= 0))
    Refuse(n, p.szName, "churn needs a duration and every");
  if (p.nKind == PH_SEND && p.szJson.empty()) Refuse(n, p.szName, "send needs json");
  return p;
}

void Read(const YAML::Node& root, Scenario* s) {
  OnlyKeys(root, "the scenario", {"server", "frames", "devices", "phases", "thresholds"});
  if (root["server"]) s->szServer = Text(root["server"], "server");
  if (root["frames"]) {
    s->szFrames = Text(root["frames"], "frames");
    s->bHasFrames = true;
  }
  if (const YAML::Node d = root["devices"]) {
    if (!d.IsSequence()) Refuse(d, "devices", "expected a list of batches");
    for (const YAML::Node& b : d) s->devices.push_back(Batch(b));
  }
  const YAML::Node ph = root["phases"];
  if (!ph || !ph.IsSequence() || ph.size() == 0) Refuse(ph ? ph : root, "phases", "a list of at least one phase is needed");
  for (size_t i = 0; i < ph.size(); ++i) s->phases.push_back(Phase(ph[i], i));
  if (const YAML::Node t = root["thresholds"]) {
    if (!t.IsSequence()) Refuse(t, "thresholds", "expected a list of expressions");
    for (const YAML::Node& e : t) {
      Threshold parsed;
      std::string why;
      if (!ParseThreshold(Text(e, "thresholds"), &parsed, &why)) Refuse(e, "thresholds", why);
      s->thresholds.push_back({e.Scalar(), e.Mark().line + 1});
    }
  }
}

bool Unit(const std::string& text, const char* unit, double scale, double* out) {
  std::string u(unit);
  if (text.size() <= u.size() || text.compare(text.size() - u.size(), u.size(), u) != 0) return false;
  std::string number = text.substr(0, text.size() - u.size());
  char* end = nullptr;
  double v = strtod(number.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v < 0 || !isdigit(static_cast<unsigned char>(number[0]))) return false;
  *out = v * scale;
  return true;
}

}  // namespace

bool ParseDurationText(const std::string& text, double* seconds) {
  double v = 0;
  bool ok = Unit(text, "ms", 0.001, &v) || Unit(text, "s", 1, &v) || Unit(text, "m", 60, &v) ||
            Unit(text, "h", 3600, &v) || Unit(text + "s", "s", 1, &v);
  if (!ok || v > 7 * 86400.0) return false;
  *seconds = v;
  return true;
}

bool ParseShareText(const std::string& text, double* pct) {
  double v = 0;
  if (!(Unit(text, "%", 1, &v) || Unit(text + "%", "%", 1, &v)) || v > 100) return false;
  *pct = v;
  return true;
}

namespace {

// Reads the document that load() gives; false with the reason in *why.
template <typename LoadFn>
bool LoadWith(LoadFn load, const std::string& path, Scenario* out, std::string* why) {
  Scenario s;
  s.szPath = path;
  try {
    Read(load(), &s);
  } catch (const Refusal& r) {
    *why = path + ":" + r.text;
    return false;
  } catch (const YAML::BadFile&) {
    *why = path + ": cannot be read";
    return false;
  } catch (const YAML::Exception& e) {
    *why = path + ":" + std::to_string(e.mark.line + 1) + ": " + e.msg;
    return false;
  }
  *out = std::move(s);
  return true;
}

}  // namespace

bool LoadScenario(const std::string& path, Scenario* out, std::string* why) {
  return LoadWith([&] { return YAML::LoadFile(path); }, path, out, why);
}

bool LoadScenarioText(const std::string& text, const std::string& path, Scenario* out, std::string* why) {
  return LoadWith([&] { return YAML::Load(text); }, path, out, why);
}
