// zel-cli as a process: commands from standard input and -e, login against a
// loopback server, the ways it ends, and list.txt at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/cli/cli_process.h"
#include "tests/app/server_texts.h"

namespace {

constexpr int kWaitMs = 20000;

void WriteDevset(const CTempDir& dir, const std::string& reg) {
  ASSERT_TRUE(dir.Write("devset.txt", "{\"REG\":\"" + reg + "\",\"VF\":\"\"}" + std::string(1, '\0')));
}

TEST(CliProcessTest, AddOnlineOptionAndQuitFromStandardInput) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  CTempDir dir;
  WriteDevset(dir, ServerReg(server));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({}));
  ASSERT_TRUE(cli.Send("add CAR 2\nonline\noption GPS=1\n"));
  EXPECT_TRUE(WaitTexts(server, "\"DSNO\":\"CAR-0002\"", 1, kWaitMs));
  EXPECT_TRUE(WaitTexts(server, "\"DSNO\":\"CAR-0001\"", 1, kWaitMs));
  // The login reply makes the devices online: ask until the list says so.
  EXPECT_TRUE(WaitUntil(
      [&] {
        cli.Send("list\n");
        return WaitUntil([&] { return cli.OutHas("1 CAR-0002 online"); }, 200);
      },
      kWaitMs));
  ASSERT_TRUE(cli.Send("status 1\nquit\n"));
  EXPECT_EQ(cli.WaitExit(kWaitMs), 0) << cli.Err();
  std::string out = cli.Out();
  // The console shows command results, not the window's title and status panes.
  EXPECT_EQ(out.find("title:"), std::string::npos) << out;
  EXPECT_EQ(out.find("pane "), std::string::npos) << out;
  EXPECT_NE(out.find("added 2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("online, gps: 0 alarm: 0\n"), std::string::npos) << out;
  EXPECT_NE(cli.Err().find("dev - CDevQ5::ConnectReg"), std::string::npos);
  EXPECT_EQ(dir.Read("list.txt"),
            std::string("{\"AD\":[0,0],\"AS\":[0,0],\"AT\":[0,0],\"COUNT\":2,\"DT\":[0,0],"
                        "\"FREQ\":[10,10],\"GPS\":[1,1],\"ID\":[\"CAR-0001\",\"CAR-0002\"],"
                        "\"REALCLOSE\":[0,0],\"UP\":[0,0]}") + '\0');
}

TEST(CliProcessTest, TerminationSignalSavesTheFleet) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("list.txt", std::string("{\"COUNT\":1,\"ID\":[\"OLD\"]}") + '\0'));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "add T 3", "--stats", "1"}));
  ASSERT_TRUE(WaitUntil([&] { return cli.OutHas("added 3\n") && cli.OutHas(" online=0/0 "); }, kWaitMs));
  cli.Signal(SIGTERM);
  EXPECT_EQ(cli.WaitExit(kWaitMs), 0) << cli.Err();
  std::string list = dir.Read("list.txt");
  EXPECT_NE(list.find("\"COUNT\":4"), std::string::npos) << list;
  EXPECT_NE(list.find("\"ID\":[\"OLD\",\"T-0001\",\"T-0002\",\"T-0003\"]"), std::string::npos) << list;
}

TEST(CliProcessTest, InterruptSignalAlsoSaves) {
  CTempDir dir;
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "add I 1"}));
  ASSERT_TRUE(WaitUntil([&] { return cli.OutHas("added 1\n"); }, kWaitMs));
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.WaitExit(kWaitMs), 0) << cli.Err();
  EXPECT_NE(dir.Read("list.txt").find("\"ID\":[\"I\"]"), std::string::npos);
}

TEST(CliProcessTest, EndOfInputKeepsRunningUntilTheDuration) {
  CTempDir dir;
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"--duration", "3"}));
  ASSERT_TRUE(cli.Send("add E 2\n"));
  cli.CloseInput();
  ASSERT_TRUE(WaitUntil([&] { return cli.OutHas("added 2\n"); }, kWaitMs));
  // Input has ended, yet the console runs on until the duration is over.
  EXPECT_FALSE(WaitUntil([&] { return !cli.Running(); }, 1000));
  EXPECT_EQ(cli.WaitExit(kWaitMs), 0) << cli.Err();
  EXPECT_NE(dir.Read("list.txt").find("\"COUNT\":2"), std::string::npos);
}

TEST(CliProcessTest, QuitAmongTheCommandLineCommandsEndsAtOnce) {
  CTempDir dir;
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "add Q 1", "-e", "quit", "-e", "add NEVER 1"}));
  EXPECT_EQ(cli.WaitExit(kWaitMs), 0) << cli.Err();
  EXPECT_EQ(dir.Read("list.txt").find("NEVER"), std::string::npos);
  EXPECT_NE(dir.Read("list.txt").find("\"ID\":[\"Q\"]"), std::string::npos);
}

// A list.txt cut in half (a full disk, a copy that stopped) is the user's
// fleet: it is set aside under a name that says so, reported, and no device
// is made from the half that parsed.
TEST(CliProcessTest, DamagedListIsSetAsideAndReported) {
  CTempDir dir;
  const std::string half = "{\"AD\":[1,1],\"AS\":[1,1],\"AT\":[0,0],\"COUNT\":2,\"DT\":[0,0],\"FREQ\":[10,10],\"GPS\":[0";
  ASSERT_TRUE(dir.Write("list.txt", half));
  ASSERT_TRUE(dir.Write("list.txt.bad", "an earlier one"));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "add F 1", "-e", "list", "--duration", "0"}));
  EXPECT_EQ(cli.WaitExit(kWaitMs), 0) << cli.Err();
  EXPECT_TRUE(cli.OutHas("warning: " + dir.File("list.txt") + " does not parse as JSON; it was set aside as " +
                         dir.File("list.txt.bad.2") + "; the fleet starts empty\n"))
      << cli.Out();
  EXPECT_TRUE(cli.OutHas("0 F offline")) << cli.Out();
  EXPECT_NE(cli.Err().find("dev - json parse failed."), std::string::npos);
  EXPECT_EQ(dir.Read("list.txt.bad.2"), half);
  EXPECT_EQ(dir.Read("list.txt.bad"), "an earlier one");
  EXPECT_NE(dir.Read("list.txt").find("\"COUNT\":1,\"DT\":[0],\"FREQ\":[10],\"GPS\":[0],\"ID\":[\"F\"]"),
            std::string::npos);
}

TEST(CliProcessTest, BadCommandLineIsRefused) {
  CTempDir dir;
  const std::vector<std::vector<std::string>> bad = {
      {"--stats", "0"}, {"--dir", dir.File("missing")}, {"--log", dir.File("missing/zel.log")}, {"--frobnicate"}};
  for (const std::vector<std::string>& args : bad) {
    CCliProcess cli(dir);
    ASSERT_TRUE(cli.Start(args));
    EXPECT_EQ(cli.WaitExit(kWaitMs), 2) << args[0];
    EXPECT_NE(cli.Err().find(args[0]), std::string::npos) << cli.Err();
    EXPECT_FALSE(dir.Exists("list.txt")) << args[0];
  }
}

// --dir keeps the three files in DIR instead of beside the executable; --log
// appends the debug lines to a file instead of standard error; -q leaves only
// the failure lines. A -e command that fails (the second online) ends the run
// with status 2; list.txt is written all the same.
TEST(CliProcessTest, DirLogAndQuietOptions) {
  CTempDir exeDir;
  CTempDir data;
  ASSERT_TRUE(data.Write("zel.log", "an earlier run\n"));
  CCliProcess cli(exeDir);
  ASSERT_TRUE(cli.Start({"--dir=" + data.Path(), "--log=" + data.File("zel.log"), "-q", "-e", "set 127.0.0.1:1",
                         "-e", "add A 1", "-e", "online", "-e", "set 127.0.0.1", "-e", "online", "-e", "quit"}));
  EXPECT_EQ(cli.WaitExit(kWaitMs), 2) << cli.Err();
  std::string log = data.Read("zel.log");
  EXPECT_EQ(log.rfind("an earlier run\n", 0), 0u) << log;
  EXPECT_NE(log.find("\ndev - register address error.\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("dev - CDevQ5::ConnectReg"), std::string::npos) << log;
  EXPECT_EQ(cli.Err(), "zel-cli: a -e command failed; the run ends here\n");
  EXPECT_NE(data.Read("list.txt").find("\"ID\":[\"A\"]"), std::string::npos);
  EXPECT_NE(data.Read("devset.txt").find("\"REG\":\"127.0.0.1\""), std::string::npos);
  EXPECT_EQ(exeDir.Listing(), "err.txt out.txt zel-cli");
}

// A run against a server that is not there ends in status 1 with the failure
// named, and the stats file shows the refused connects row by row; the
// thresholds turn the same run into a pass.
TEST(CliProcessTest, RunAgainstAStoppedServerFailsUnlessAllowed) {
  CTestServer gone;
  ASSERT_TRUE(gone.Start());
  std::string reg = ServerReg(gone);
  gone.Stop();
  CTempDir dir;
  {
    CCliProcess cli(dir);
    ASSERT_TRUE(cli.Start({"-e", "set " + reg, "-e", "add S 2", "-e", "online", "--stats", "1", "--duration", "2",
                           "--stats-file", dir.File("stats.csv")}));
    EXPECT_EQ(cli.WaitExit(kWaitMs), 1) << cli.Err();
    std::string out = cli.Out();
    EXPECT_NE(out.find("online at the end 0 of 2 asked"), std::string::npos) << out;
    EXPECT_NE(out.find("failures: connect_refused "), std::string::npos) << out;
    EXPECT_NE(out.find("result: FAIL: "), std::string::npos) << out;
    std::string csv = dir.Read("stats.csv");
    ASSERT_EQ(csv.rfind("time,phase,devices,online,", 0), 0u) << csv;
    std::string last = csv.substr(csv.rfind('\n', csv.size() - 2) + 1);
    EXPECT_EQ(last.find(",connect_refused"), std::string::npos) << "a data row: " << last;
    size_t col = 0;
    std::string header = csv.substr(0, csv.find('\n'));
    for (size_t i = 0; i < header.find(",connect_refused,"); ++i) col += header[i] == ',';
    size_t at = 0;
    for (size_t i = 0; i <= col; ++i) at = last.find(',', at) + 1;
    EXPECT_GE(std::stoi(last.substr(at)), 2) << header << "\n" << last;
  }
  CCliProcess lenient(dir);
  ASSERT_TRUE(lenient.Start({"-e", "set " + reg, "-e", "online", "--duration", "1", "--allow-failures", "1000000",
                             "--expect-online", "0"}));
  EXPECT_EQ(lenient.WaitExit(kWaitMs), 0) << lenient.Out();
  EXPECT_NE(lenient.Out().find("result: PASS"), std::string::npos) << lenient.Out();
}

}  // namespace
