// Scenario files that must be refused before anything connects: each refusal
// names the file, the line and the key at fault. And one file with every
// phase kind that must load.
#include <gtest/gtest.h>

#include <string>

#include "app/cli/scenario.h"
#include "tests/support/temp_dir.h"

namespace {

struct BadFile {
  const char* szText;
  const char* szWhy;  // what the message must hold after "PATH:"
};

const BadFile kBadFiles[] = {
    {"phases:\n  - {name: a, hold: {}}\nserver: x:1\nfleet: 3\n", "4: fleet: unknown key"},
    {"phases:\n  - name: a\n    sleep: {}\n", "3: sleep: unknown phase kind"},
    {"phases:\n  - {name: a, duration: 90x}\n", "2: duration: '90x' is not a duration"},
    {"phases:\n  - {name: a, online: {rate: 10, share: 120%}}\n", "2: share: '120%' is not a share"},
    {"phases:\n  - {name: a, online: {rate: fast}}\n", "2: rate: 'fast' is not a number"},
    {"phases:\n  - {name: a, wait: {online: 90%, timeout: 10s, after: 2}}\n", "2: after: unknown key in wait"},
    {"phases:\n  - {name: a, churn: {share: 10%}}\n", "2: a: churn needs a duration and every"},
    {"phases:\n  - {name: a, online: {}, offline: {}}\n", "2: offline: a phase has one action"},
    {"phases:\n  - {name: a}\n", "2: a: a phase needs an action or a duration"},
    {"server: 127.0.0.1:5556\n", "1: phases: a list of at least one phase is needed"},
    {"phases:\n  - {name: a, hold: {}\n", "3: "},  // YAML that does not parse
    {"phases: [{hold: {}}]\nthresholds: [login_p99<5parsecs]\n", "2: thresholds: threshold login_p99<5parsecs"},
    {"devices:\n  - {base: B, count: 5, options: {GPS: 1, SPEED: 3}}\nphases: [{hold: {}}]\n",
     "2: SPEED: unknown key 'SPEED'"},
    {"devices:\n  - {base: B, count: 0}\nphases: [{hold: {}}]\n", "2: count: '0' is not a number from 1"},
    {"devices:\n  - {base: B}\nphases: [{hold: {}}]\n", "2: devices: a batch needs base and count"},
};

TEST(ScenarioFileTest, RefusalsNameTheFileTheLineAndTheKey) {
  CTempDir dir;
  for (const BadFile& bad : kBadFiles) {
    ASSERT_TRUE(dir.Write("s.yaml", bad.szText));
    Scenario s;
    std::string why;
    EXPECT_FALSE(LoadScenario(dir.File("s.yaml"), &s, &why)) << bad.szText;
    EXPECT_EQ(why.rfind(dir.File("s.yaml") + ":" + bad.szWhy, 0), 0u) << bad.szText << "\n" << why;
  }
  Scenario s;
  std::string why;
  EXPECT_FALSE(LoadScenario(dir.File("missing.yaml"), &s, &why));
  EXPECT_EQ(why, dir.File("missing.yaml") + ": cannot be read");
}

TEST(ScenarioFileTest, EveryPhaseKindLoadsWithItsUnits) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("s.yaml",
                        "server: 127.0.0.1:5556\n"
                        "devices:\n  - {base: B, count: 20, options: {gps: 1, FREQ: 30}}\n"
                        "phases:\n"
                        "  - {name: ramp, online: {rate: 2.5, share: 50}}\n"
                        "  - {name: w, wait: {online: 99.5%, timeout: 2m}}\n"
                        "  - {name: c, churn: {share: 10%, every: 1500ms, away: 3s}, duration: 1h}\n"
                        "  - {alarm: {within: 5s}}\n"
                        "  - {name: o, options: {UP: 1}}\n"
                        "  - {name: s, send: {share: 5%, json: '{\"A\":1}'}}\n"
                        "  - {name: h, duration: 90}\n"
                        "thresholds: ['login_p99 < 500ms']\n"));
  Scenario s;
  std::string why;
  ASSERT_TRUE(LoadScenario(dir.File("s.yaml"), &s, &why)) << why;
  ASSERT_EQ(s.phases.size(), 7u);
  EXPECT_EQ(s.devices[0].options, (OptionPairs{{"gps", 1}, {"FREQ", 30}}));
  EXPECT_EQ(s.phases[0].dRate, 2.5);
  EXPECT_EQ(s.phases[0].dSharePct, 50);
  EXPECT_EQ(s.phases[1].dTimeoutSec, 120);
  EXPECT_EQ(s.phases[2].dEverySec, 1.5);
  EXPECT_EQ(s.phases[2].dDurationSec, 3600);
  EXPECT_EQ(s.phases[3].szName, "phase4");
  EXPECT_EQ(s.phases[3].nLine, 8);
  EXPECT_EQ(s.phases[5].szJson, "{\"A\":1}");
  EXPECT_EQ(s.phases[6].dDurationSec, 90);
  EXPECT_EQ(s.thresholds[0].nLine, 12);
  // The examples the repository ships load too.
  for (const char* name : {"ramp-and-hold.yaml", "churn.yaml", "alarm-storm.yaml"}) {
    std::string path = std::string(ZEL_SCENARIO_DIR) + "/" + name;
    EXPECT_TRUE(LoadScenario(path, &s, &why)) << why;
  }
}

}  // namespace
