#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A load test as a YAML file: where the server is, the fleet, the phases run
// one after another, and the thresholds the run is judged by.
//
//   server: 127.0.0.1:5556          # REG (otherwise devset.txt's)
//   frames: /data/live.h264         # VF
//   devices:
//     - {base: BUS, count: 5000, options: {GPS: 1, UP: 1, FREQ: 10}}
//   phases:
//     - {name: ramp, online: {rate: 200}}
//     - {name: settle, wait: {online: 99%, timeout: 60s}}
//     - {name: soak, hold: {}, duration: 5m}
//   thresholds: ["login_p99<500ms", "online>=99%"]

enum PhaseKind : int32_t { PH_ONLINE, PH_OFFLINE, PH_WAIT, PH_CHURN, PH_ALARM, PH_OPTIONS, PH_SEND, PH_HOLD };

using OptionPairs = std::vector<std::pair<std::string, int32_t>>;  // KEY, VALUE as `option` takes them

struct ScenarioBatch {
  std::string szBase;
  int32_t nCount = 0;
  OptionPairs options;
};

struct ScenarioPhase {
  std::string szName;
  PhaseKind nKind = PH_HOLD;
  int32_t nLine = 0;           // where it stands in the file (1-based)
  double dDurationSec = -1;    // how long it lasts after its action started; -1: until the action is done
  double dSharePct = 100;      // online, offline, churn, alarm, send: the share of the devices it acts on
  double dRate = 0;            // online: devices per second (0: all at once)
  double dOnlinePct = 100;     // wait: the share of the fleet that must be online
  double dTimeoutSec = 60;     // wait: the phase fails when this passes
  double dEverySec = 0;        // churn: a step this often
  double dAwaySec = 0;         // churn: how long the devices of a step stay offline
  double dWithinSec = 0;       // alarm: the alarms spread evenly over this
  OptionPairs options;         // options
  std::string szJson;          // send
};

struct ScenarioThreshold {
  std::string szText;
  int32_t nLine = 0;
};

struct Scenario {
  std::string szPath;
  std::string szServer;  // empty: devset.txt's REG
  std::string szFrames;  // empty: devset.txt's VF
  bool bHasFrames = false;
  std::vector<ScenarioBatch> devices;
  std::vector<ScenarioPhase> phases;
  std::vector<ScenarioThreshold> thresholds;
};

// Reads and checks path. False with "PATH:LINE: KEY: what is wrong" in *why
// when the file cannot be read, does not parse, or has an unknown key, phase
// kind or unit, a value out of its range, or no phases. Every threshold is
// checked too. Nothing is done to any device.
bool LoadScenario(const std::string& path, Scenario* out, std::string* why);
// The same for the text of a file named path.
bool LoadScenarioText(const std::string& text, const std::string& path, Scenario* out, std::string* why);

// "90s", "5m", "500ms", "1h" or a bare number of seconds; false on anything else.
bool ParseDurationText(const std::string& text, double* seconds);
// "95%" or a bare number, from 0 to 100; false on anything else.
bool ParseShareText(const std::string& text, double* pct);
