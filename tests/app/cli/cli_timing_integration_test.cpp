// zel-cli's timing of the server and its thresholds, as processes: the login
// times it reports against the times zel-server held each answer, and the
// threshold grammar's three outcomes (pass, fail, refused).
#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/cli/cli_process.h"
#include "tests/app/cli/server_process.h"
#include "tests/app/server_texts.h"

namespace {

constexpr int kWaitMs = 20000;

// The summary's value of a latency line's field ("  login     n=20 p50=112.4ms ...").
double LatencyField(const std::string& out, const std::string& kind, const std::string& field) {
  std::smatch m;
  std::regex re("\n  " + kind + " +n=\\d+.* " + field + "=([0-9.]+)ms");
  if (field == "n") re = std::regex("\n  " + kind + " +n=(\\d+)");
  return std::regex_search(out, m, re) ? std::stod(m[1]) : -1;
}

// The hold of every login answer the server logged, sorted.
std::vector<double> ServerHolds(const std::string& out) {
  std::vector<double> held;
  std::regex re("\\(answer held (\\d+) ms\\)");
  for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) held.push_back(std::stod((*it)[1]));
  std::sort(held.begin(), held.end());
  return held;
}

// The server holds each login answer 50 to 150 ms: the fleet's login p50 and
// max are the server's holds plus the loopback's round trip, and the stats
// file's bucket counts hold every login.
TEST(CliTimingTest, LoginTimesMatchWhatTheServerHeld) {
  CTempDir dir;
  CServerProcess server(dir);
  ASSERT_TRUE(server.Start({"--login-delay", "100:50"}));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "set " + server.Reg(), "-e", "add L 20", "-e", "online", "--stats", "1",
                         "--stats-file", dir.File("stats.jsonl"), "--stats-format", "jsonl", "--threshold",
                         "login_p50 < 5 s"}));
  ASSERT_TRUE(WaitUntil([&] { return ServerHolds(server.Out()).size() == 20; }, kWaitMs)) << server.Out();
  ASSERT_TRUE(WaitUntil([&] { return cli.OutHas(" online=20/20 "); }, kWaitMs)) << cli.Out();
  cli.Send("quit\n");
  EXPECT_EQ(cli.WaitExit(kWaitMs), 0) << cli.Out();
  std::string out = cli.Out();
  std::vector<double> held = ServerHolds(server.Out());
  ASSERT_EQ(LatencyField(out, "login", "n"), 20) << out;
  double p50 = LatencyField(out, "login", "p50");
  double max = LatencyField(out, "login", "max");
  // The 10th of 20 holds is the median as both sides count it; the bucket's
  // middle may lie 0.4 % below a time, a busy machine may add much above.
  EXPECT_GE(p50, held[9] * 0.99) << out;
  EXPECT_LE(p50, held[9] + 250) << out;
  EXPECT_GE(max, held.back() * 0.99) << out;
  EXPECT_LE(max, held.back() + 250) << out;
  EXPECT_GE(held.front(), 50);
  EXPECT_LE(held.back(), 151);
  EXPECT_NE(out.find("login_p50<5s"), std::string::npos) << out;
  // Every login is in the file's bucket counts, the interval's percentiles
  // beside them.
  std::istringstream rows(dir.Read("stats.jsonl"));
  uint64_t logins = 0;
  bool bPercentiles = false;
  for (std::string line; std::getline(rows, line);) {
    Json::Value row;
    ASSERT_TRUE(Json::Reader().parse(line, row)) << line;
    for (const std::string& low : row["login_buckets"].getMemberNames()) logins += row["login_buckets"][low].asUInt64();
    bPercentiles |= row.isMember("login_ms_p99") && row["login_n"].asUInt64() > 0;
  }
  EXPECT_EQ(logins, 20u);
  EXPECT_TRUE(bPercentiles);
  EXPECT_EQ(server.Quit(10000), 0);
}

// A threshold that holds and one that cannot give status 1, and the verdict
// names only the failed one; a malformed one is refused before any device
// connects.
TEST(CliTimingTest, ThresholdsPassFailOrAreRefused) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  CTempDir dir;
  {
    CCliProcess cli(dir);
    ASSERT_TRUE(cli.Start({"-e", "set " + ServerReg(server), "-e", "add T 2", "-e", "online", "--duration", "3",
                           "--threshold", "login_max>3600s", "--threshold", "connect_p99<=5000ms", "--threshold",
                           "online==100%"}));
    EXPECT_EQ(cli.WaitExit(kWaitMs), 1) << cli.Out();
    std::string out = cli.Out();
    EXPECT_NE(out.find("result: FAIL: threshold login_max>3600s ("), std::string::npos) << out;
    EXPECT_EQ(out.find("threshold connect_p99"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\n  connect_p99<=5000ms +[0-9.]+ms +PASS\n"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\n  online==100% +100.0% +PASS\n"))) << out;
  }
  for (const char* bad : {"login_p99<500parsecs", "logins_p99<1", "failures<=5%", "online=>5", "gps_rate>"}) {
    CCliProcess cli(dir);
    ASSERT_TRUE(cli.Start({"--log", dir.File("zel.log"), "-e", "online", "--threshold", bad}));
    EXPECT_EQ(cli.WaitExit(kWaitMs), 2) << bad;
    EXPECT_NE(cli.Err().find(std::string("threshold ") + bad + ": "), std::string::npos) << cli.Err();
    EXPECT_EQ(dir.Read("zel.log").find("ConnectReg"), std::string::npos) << bad;
  }
}

}  // namespace
