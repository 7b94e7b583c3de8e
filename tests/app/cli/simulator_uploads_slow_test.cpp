// zel-server and zel-cli as processes over real time: GPS and alarm uploads,
// a server that never answers the login seeing the device retry every 15
// seconds or so, and devices the server dropped measuring how long they were
// away.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/app/cli/cli_process.h"
#include "tests/app/cli/server_process.h"

namespace {

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SimulatorUploadsTest, GpsAndAlarmsReachTheServer) {
  CTempDir dir;
  CServerProcess server(dir);
  ASSERT_TRUE(server.Start({"--reply-to-uploads"}));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "set " + server.Reg(), "-e", "add U 2", "-e", "option GPS=1 UP=1 AD=1 AS=1 FREQ=10",
                         "-e", "online", "--duration", "60"}));
  ASSERT_TRUE(server.WaitOut("login U-0002 ", 15000));
  // The first uploads come with the first tick more than 10 s after the start.
  ASSERT_TRUE(WaitUntil(
      [&] {
        server.Command("devices");
        return CountOf(server.Out(), " gps=1 ") >= 2;
      },
      25000))
      << server.Out();
  std::string out = server.Out();
  EXPECT_NE(out.find("alarms=0:1,4:2,8:1"), std::string::npos) << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
  cli.Send("quit\n");
  EXPECT_EQ(cli.WaitExit(20000), 0);
  EXPECT_EQ(server.Quit(10000), 0);
}

TEST(SimulatorUploadsTest, UnansweredLoginIsRetriedAbout15SecondsLater) {
  CTempDir dir;
  CServerProcess server(dir);
  ASSERT_TRUE(server.Start({"--no-login-answer"}));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "set " + server.Reg(), "-e", "add R 1", "-e", "online", "--duration", "60"}));
  const std::string attempt = "login R from ";
  ASSERT_TRUE(server.WaitOut(attempt, 15000)) << server.Out();
  auto first = std::chrono::steady_clock::now();
  // The device closes the unanswered connection and logs in again about 15 s
  // (plus up to one 2 s driver pass) after its attempt.
  ASSERT_TRUE(WaitUntil([&] { return CountOf(server.Out(), attempt) >= 2; }, 30000)) << server.Out();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
  EXPECT_GE(seconds, 12.0);
  EXPECT_LE(seconds, 25.0);
  EXPECT_NE(server.Out().find("(not answered)"), std::string::npos);
  cli.Send("quit\n");
  // A device that never logged in fails the run, and the verdict says why.
  EXPECT_EQ(cli.WaitExit(20000), 1);
  EXPECT_NE(cli.Out().find("result: FAIL: "), std::string::npos) << cli.Out();
  EXPECT_NE(cli.Out().find("login_unanswered "), std::string::npos) << cli.Out();
  EXPECT_EQ(server.Quit(10000), 0);
}

// The summary's value of a latency line's field ("  recovery  n=2 p50=16012.0ms ...").
double LatencyField(const std::string& out, const std::string& kind, const std::string& field) {
  size_t line = out.find("  " + kind + " ");
  if (line == std::string::npos) return -1;
  size_t at = out.find(" " + field + "=", line);
  if (at == std::string::npos || at > out.find('\n', line)) return -1;
  return std::stod(out.substr(at + field.size() + 2));
}

// The server drops both devices' connections: each is back after the
// reconnect period (15 s from its last connect, plus up to one 2 s driver
// pass), and the summary's recovery time says so; the operator's own offline
// at the end adds nothing.
TEST(SimulatorUploadsTest, RecoveryTimeAfterTheServerDropsEveryDevice) {
  CTempDir dir;
  CServerProcess server(dir);
  ASSERT_TRUE(server.Start({}));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "set " + server.Reg(), "-e", "add K 2", "-e", "online", "--duration", "60",
                         "--allow-failures", "2"}));
  ASSERT_TRUE(server.WaitOut("login K-0002 ", 15000)) << server.Out();
  ASSERT_TRUE(server.WaitOut("login K-0001 ", 15000)) << server.Out();
  server.Command("kick K-0001");
  server.Command("kick K-0002");
  ASSERT_TRUE(WaitUntil([&] { return CountOf(server.Out(), "login K-000") >= 4; }, 30000)) << server.Out();
  cli.Send("offline\n");
  cli.Send("quit\n");
  EXPECT_EQ(cli.WaitExit(20000), 0) << cli.Out();
  std::string out = cli.Out();
  EXPECT_EQ(LatencyField(out, "recovery", "n"), 2) << out;
  EXPECT_GE(LatencyField(out, "recovery", "p50"), 12000) << out;
  EXPECT_LE(LatencyField(out, "recovery", "max"), 19000) << out;
  EXPECT_EQ(LatencyField(out, "login", "n"), 4) << out;
  EXPECT_NE(out.find("connection_lost 2"), std::string::npos) << out;
  EXPECT_EQ(server.Quit(10000), 0);
}

}  // namespace
