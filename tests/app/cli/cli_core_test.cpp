// The console's commands on a fleet without driver or connections.
#include "app/cli/cli_core.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/cli_report.h"
#include "net/latency_recorder.h"
#include "app/fleet_figures.h"
#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class CliCoreTest : public ::testing::Test {
 protected:
  std::string Run(const std::string& line, int32_t expect = CLI_OK) {
    std::string out;
    EXPECT_EQ(core.Execute(line, out), expect) << line;
    return out;
  }
  // What a bad command may not change: rows, their IDs, values and connection.
  std::string Fingerprint() {
    std::string f;
    for (int32_t r = 0; r < fleet.RowCount(); ++r) {
      fleet.WithDevice(r, [&](CDevQ5& d) {
        DeviceProperties p = d.GetProperties();
        f += std::string(d.Id()) + ":" + std::to_string(p.bAutoUpload) + std::to_string(p.nUploadInterval) +
             std::to_string(p.bGps) + std::to_string(p.bCustomAlarm) + std::to_string(p.bSpeedAlarm) +
             std::to_string(p.nAutoOffline) + std::to_string(p.nLiveViewOff) + std::to_string(d.WantsOnline() ? 1 : 0) +
             d.GetServerIp() + d.GetFramePath() + ";";
      });
    }
    return f + fleet.Reg() + "|" + fleet.Vf();
  }

  DebugCapture capture;
  CTempDir dir;
  CFleet fleet{dir.Path()};
  CCliCore core{fleet};
};

TEST_F(CliCoreTest, BadArgumentsGiveOneErrorLineAndChangeNothing) {
  Run("add CAR 4");
  Run("option 2 UP=1 AT=30");
  const std::string before = Fingerprint();
  const char* bad[] = {
      "add CAR",          "add CAR x",         "add CAR 99999999999", "add CAR 4 5",
      "delete 0 9",       "delete 1 -1",       "delete 1 one",        "online 0 4",
      "offline 2 x",      "alarm 4",           "send",                "send x {}",
      "send 4 {}",        "option 9 GPS=1",    "option 1 GPS=1 BAD=2", "option 1 GPS=x",
      "option 1 GPS",     "option GPS=1 3",    "status",              "status 0 1",
      "status 4",         "list all",          "stats now",           "quit now",
      "frobnicate 1",     "set",               "add CAR 9",           "add CAR-0003 1",
      "online --rate",    "online --rate 0",   "online --rate=x 1",   "online --rate -5",
  };
  for (const char* line : bad) {
    std::string out = Run(line, CLI_ERROR);
    EXPECT_EQ(out.rfind("error: ", 0), 0u) << line << " -> " << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << line << " -> " << out;
    EXPECT_EQ(Fingerprint(), before) << line;
  }
  EXPECT_NE(Run("delete 0 9", CLI_ERROR).find("delete IDX..."), std::string::npos);
  EXPECT_NE(Run("option 1 GPS=1 BAD=2", CLI_ERROR).find("BAD"), std::string::npos);
  // A taken ID is named: the first of the batch that the fleet already has.
  Run("add X-0002 1");
  EXPECT_EQ(Run("add X 3", CLI_ERROR), "error: the fleet already has a device with ID 'X-0002'; nothing added\n");
  EXPECT_EQ(capture.Count("dev - CDevQ5::ConnectReg"), 0);
}

TEST_F(CliCoreTest, OptionWithIndexStartsFromThatDeviceAndChangesItAlone) {
  Run("add P 8");
  EXPECT_EQ(Run("option 3 GPS=1 freq=25"), "options applied to row 3\n");
  DeviceProperties p3 = fleet.DialogProperties({3});
  EXPECT_EQ(p3.bGps, 1);
  EXPECT_EQ(p3.nUploadInterval, 25);
  EXPECT_EQ(p3.bCustomAlarm, 1);  // kept from the device, not the dialog defaults
  EXPECT_EQ(p3.bSpeedAlarm, 1);
  for (int32_t r : {0, 2, 4, 7}) EXPECT_EQ(fleet.DialogProperties({r}).bGps, 0) << r;
}

TEST_F(CliCoreTest, OptionWithoutIndexStartsFromTheDialogDefaultsForEveryDevice) {
  Run("add P 3");
  Run("option 1 UP=1 AT=40");
  EXPECT_EQ(Run("option REALCLOSE=-5"), "options applied to every device\n");
  for (int32_t r = 0; r < 3; ++r) {
    DeviceProperties p = fleet.DialogProperties({r});
    EXPECT_EQ(p.bAutoUpload, 0) << r;
    EXPECT_EQ(p.nUploadInterval, 10) << r;
    EXPECT_EQ(p.bCustomAlarm, 0) << r;
    EXPECT_EQ(p.bSpeedAlarm, 0) << r;
    EXPECT_EQ(p.nAutoOffline, 0) << r;
    EXPECT_EQ(p.nLiveViewOff, -5) << r;
  }
}

TEST_F(CliCoreTest, CommandsReportWhatTheyDid) {
  EXPECT_EQ(Run("add CAR 12000"), "added 9999\n");
  EXPECT_EQ(Run("delete"), "deleted 0\n");
  EXPECT_EQ(Run("delete 9998 0 0"), "deleted 2\n");
  EXPECT_EQ(fleet.RowCount(), 9997);
  EXPECT_EQ(Run("delete " + [] {
              std::string all;
              for (int i = 0; i < 9997; ++i) all += std::to_string(i) + " ";
              return all;
            }()),
            "deleted 9997\n");
  EXPECT_EQ(Run("add CAR 0"), "added 0\n");
  EXPECT_EQ(Run("add \"\" 1"), "added 1\n");
  EXPECT_EQ(Run("add BUS 2"), "added 2\n");
  EXPECT_EQ(Run("list"), "0  offline\n1 BUS-0001 offline\n2 BUS-0002 offline\n");
  fleet.WithDevice(2, [](CDevQ5& d) { d.Counters().nGpsSent.store(7); });
  EXPECT_EQ(Run("status 2"), fleet.StatusText(2) + "\n");
  EXPECT_EQ(Run("status 2"), "offline, gps: 7 alarm: 0\n");
  // Not connected: the alarm fails with the operator's message.
  EXPECT_EQ(Run("alarm 2 1"), "发送失败\n");
  EXPECT_EQ(Run("alarm"), "nothing selected\n");
  EXPECT_EQ(Run("send 1"), "send failed\n");
  EXPECT_TRUE(capture.Has("null"));
  std::string stats = Run("stats");
  EXPECT_EQ(stats.find(" devices=3 online=0 connecting=0 offline=3 "), 20u) << stats;  // after the UTC time stamp
  EXPECT_EQ(stats[19], 'Z');
  EXPECT_EQ(Run(""), "");
  EXPECT_EQ(Run("   # a comment"), "");
  EXPECT_EQ(Run("quit", CLI_QUIT), "");
  EXPECT_NE(Run("help").find("option [IDX] KEY=VALUE..."), std::string::npos);
}

TEST_F(CliCoreTest, SetTakesTheRestOfTheLineAsTheFrameFileAndKeepsItWhenLeftOut) {
  Run("add S 1");
  EXPECT_EQ(Run("set 10.0.0.9:7001   /clips/with space/a.264"), "settings applied\n");
  EXPECT_EQ(fleet.Reg(), "10.0.0.9:7001");
  EXPECT_EQ(fleet.Vf(), "/clips/with space/a.264");
  EXPECT_EQ(Run("set 10.0.0.9"), "settings applied\n");
  EXPECT_EQ(fleet.Vf(), "/clips/with space/a.264");
  fleet.WithDevice(0, [](CDevQ5& d) { EXPECT_EQ(d.GetFramePath(), "/clips/with space/a.264"); });
  // An address without a colon is stored; Online then reports it and connects nothing.
  EXPECT_EQ(Run("online", CLI_ERROR), "error: the register server 10.0.0.9 has no ':' before its port; nothing was connected\n");
  EXPECT_TRUE(capture.Has("dev - register address error."));
  fleet.WithDevice(0, [](CDevQ5& d) { EXPECT_FALSE(d.WantsOnline()); });
}

// Both option forms, repeated -e in order; values out of range, unknown
// options and a --dir that is no directory are refused.
TEST(CliOptionsTest, BothFormsAreTakenAndBadValuesRefused) {
  CTempDir dir;
  CliOptions o;
  CLI::App app("", "zel-cli");
  DefineCliOptions(app, o);
  const std::string dirArg = "--dir=" + dir.Path();
  const char* argv[] = {"zel-cli",  "-e",      "add CAR 2", "--duration=5", "-e",  "online",
                        "--stats", "1",       dirArg.c_str(), "--log",       "x.log", "-q"};
  ASSERT_NO_THROW(app.parse(12, argv));
  EXPECT_EQ(o.commands, (std::vector<std::string>{"add CAR 2", "online"}));
  EXPECT_EQ(o.nDurationSec, 5);
  EXPECT_EQ(o.nStatsSec, 1);
  EXPECT_EQ(o.run.szDir, dir.Path());
  EXPECT_EQ(o.run.szLog, "x.log");
  EXPECT_TRUE(o.run.bQuiet);

  const std::vector<std::vector<const char*>> bad = {
      {"zel-cli", "-e"},           {"zel-cli", "--stats", "0"},         {"zel-cli", "--duration=-1"},
      {"zel-cli", "--verbose"},    {"zel-cli", "-e", "list", "stray"},  {"zel-cli", "--dir", "/nonexistent/zel"},
      {"zel-cli", "--dir", "/dev/null"}};
  for (const auto& args : bad) {
    CliOptions o2;
    CLI::App app2("", "zel-cli");
    DefineCliOptions(app2, o2);
    EXPECT_THROW(app2.parse(static_cast<int>(args.size()), args.data()), CLI::ParseError) << args[1];
  }
}

// The fleet's figures as Prometheus takes them: counters end in _total,
// milliseconds are served as seconds, the times are histograms whose buckets
// count up to their bound, and promtool (where it is installed) finds nothing
// to complain about.
TEST_F(CliCoreTest, FleetMetricsAreValidPrometheusText) {
  Run("add CAR 3");
  uint64_t before = LatencySnapshot(LAT_RECOVERY).Count();
  RecordLatency(LAT_RECOVERY, 1500000);  // 1.5 s
  std::string text = CliMetricsText(fleet);
  std::string count = std::to_string(before + 1);
  EXPECT_NE(text.find("# TYPE zel_cli_recovery_seconds histogram\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nzel_cli_recovery_seconds_bucket{le=\"2.5\"} " + count + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nzel_cli_recovery_seconds_bucket{le=\"+Inf\"} " + count + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nzel_cli_recovery_seconds_count " + count + "\n"), std::string::npos) << text;
  if (before == 0) {
    EXPECT_NE(text.find("\nzel_cli_recovery_seconds_bucket{le=\"1\"} 0\n"), std::string::npos) << text;
  }
  EXPECT_NE(text.find("\nzel_cli_devices 3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nzel_cli_connect_refused_total 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("# TYPE zel_cli_pass_max_seconds gauge\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("_ms "), std::string::npos) << text;
  if (system("command -v promtool >/dev/null 2>&1") != 0) return;
  ASSERT_TRUE(dir.Write("scrape.txt", text));
  EXPECT_EQ(system(("promtool check metrics < " + dir.File("scrape.txt") + " >/dev/null 2>&1").c_str()), 0) << text;
}

}  // namespace
