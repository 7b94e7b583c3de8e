// A scenario run by zel-cli against zel-server, both processes: the server
// sees the phases happen in order (the ramp's rate, the churn's logouts and
// returns, the storm's emergency alarms), and the stats file names each phase.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/app/cli/cli_process.h"
#include "tests/app/cli/server_process.h"

namespace {

int CountOf(const std::string& text, const std::string& part, size_t from = 0, size_t to = std::string::npos) {
  int n = 0;
  for (size_t at = text.find(part, from); at != std::string::npos && at < to; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(ScenarioRunTest, PhasesHappenInOrderAtTheServer) {
  CTempDir dir;
  CServerProcess server(dir);
  ASSERT_TRUE(server.Start({}));
  ASSERT_TRUE(dir.Write("run.yaml",
                        "server: " + server.Reg() + "\n"
                        "devices:\n  - {base: S, count: 20}\n"
                        "phases:\n"
                        "  - {name: ramp, online: {rate: 10}}\n"
                        "  - {name: settle, wait: {online: 100%, timeout: 20s}}\n"
                        "  - {name: churn, churn: {share: 25%, every: 1s, away: 500ms}, duration: 2500ms}\n"
                        "  - {name: back, wait: {online: 100%, timeout: 20s}}\n"
                        "  - {name: storm, alarm: {share: 50%, within: 1s}}\n"
                        "  - {name: after, duration: 1s}\n"
                        "thresholds: ['login_max < 5s']\n"));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"--scenario", dir.File("run.yaml"), "--stats", "1", "--stats-file", dir.File("stats.jsonl"),
                         "--stats-format", "jsonl"}));
  // The ramp: 20 logins at 10 a second take about two seconds.
  ASSERT_TRUE(server.WaitOut("login S-", 20000)) << server.Out();
  auto first = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return CountOf(server.Out(), "login S-") >= 20; }, 20000)) << server.Out();
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count(), 1.4);
  EXPECT_EQ(cli.WaitExit(30000), 0) << cli.Out();
  std::string out = server.Out();
  // Every device was in before the churn began; three steps took 5 devices
  // away each and each came back; then 10 of the 20 sent the emergency alarm
  // (type 7). The fleet's close logs every device out after that.
  size_t firstLogout = out.find("logout S-");
  size_t firstAlarm = out.find(" type=7 ");
  ASSERT_NE(firstLogout, std::string::npos) << out;
  ASSERT_NE(firstAlarm, std::string::npos) << out;
  EXPECT_EQ(CountOf(out, "login S-", 0, firstLogout), 20) << out;
  EXPECT_EQ(CountOf(out, "logout S-", 0, firstAlarm), 15) << out;
  EXPECT_EQ(CountOf(out, "login S-", 0, firstAlarm), 35) << out;
  EXPECT_EQ(CountOf(out, " type=7 "), 10) << out;
  std::string cliOut = cli.Out();
  for (const char* phase : {"ramp", "settle", "churn", "back", "storm", "after"})
    EXPECT_NE(cliOut.find(std::string("phase ") + phase + " completed\n"), std::string::npos) << cliOut;
  EXPECT_NE(cliOut.find("result: PASS"), std::string::npos) << cliOut;
  // The stats rows carry the phase that ran when they were taken, in order.
  std::string stats = dir.Read("stats.jsonl");
  EXPECT_LT(stats.find("\"phase\":\"ramp\""), stats.find("\"phase\":\"churn\"")) << stats;
  EXPECT_LT(stats.find("\"phase\":\"churn\""), stats.rfind("\"phase\":\"after\"")) << stats;
  EXPECT_NE(stats.find("\"end\":{"), std::string::npos);
  EXPECT_EQ(server.Quit(10000), 0);
}

}  // namespace
