// zel-cli end to end: a device brought online with GPS on uploads its first
// position once the 10-second GPS period since its creation has passed.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/cli/cli_process.h"
#include "tests/support/login_server.h"

namespace {

TEST(CliGpsTest, LoggedInDeviceUploadsGpsSeenByTheServer) {
  CLoginServer server;
  CTempDir dir;
  ASSERT_TRUE(dir.Write("devset.txt", "{\"REG\":\"" + server.Reg() + "\"}"));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "add GPS 1", "-e", "online", "-e", "option GPS=1"}));
  EXPECT_TRUE(server.WaitForCount("\"DSNO\":\"GPS\"", 1, 20000));
  // The driver ticks every 2 s; the period is measured from the device's creation.
  EXPECT_TRUE(server.WaitForCount("\"OPERATION\":\"SPI\"", 1, 30000));
  std::string spi;
  for (const std::string& t : server.Texts())
    if (t.find("\"OPERATION\":\"SPI\"") != std::string::npos) spi = t;
  EXPECT_NE(spi.find("\"MODULE\":\"DEVEMM\""), std::string::npos) << spi;
  ASSERT_TRUE(cli.Send("stats\nstatus 0\nquit\n"));
  EXPECT_EQ(cli.WaitExit(20000), 0) << cli.Err();
  EXPECT_NE(cli.Out().find("online, gps: 1 alarm: 0"), std::string::npos) << cli.Out();
  EXPECT_NE(dir.Read("list.txt").find("\"GPS\":[1]"), std::string::npos);
}

}  // namespace
