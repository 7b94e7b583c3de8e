// zel-cli end to end: a device brought online with GPS on uploads its first
// position once the 10-second GPS period since its creation has passed.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/cli/cli_process.h"
#include "tests/app/server_texts.h"

namespace {

TEST(CliGpsTest, LoggedInDeviceUploadsGpsSeenByTheServer) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  CTempDir dir;
  ASSERT_TRUE(dir.Write("devset.txt", "{\"REG\":\"" + ServerReg(server) + "\"}"));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "add GPS 1", "-e", "online", "-e", "option GPS=1"}));
  EXPECT_TRUE(WaitTexts(server, "\"DSNO\":\"GPS\"", 1, 20000));
  // The driver ticks every 2 s; the period is measured from the device's creation.
  EXPECT_TRUE(WaitTexts(server, "\"OPERATION\":\"SPI\"", 1, 30000));
  std::string spi;
  for (const CapturedPacket& p : server.AllPackets())
    if (p.Operation() == "SPI") spi = p.szText;
  EXPECT_NE(spi.find("\"MODULE\":\"DEVEMM\""), std::string::npos) << spi;
  ASSERT_TRUE(cli.Send("stats\nstatus 0\nquit\n"));
  EXPECT_EQ(cli.WaitExit(20000), 0) << cli.Err();
  EXPECT_NE(cli.Out().find("online, gps: 1 alarm: 0"), std::string::npos) << cli.Out();
  EXPECT_NE(dir.Read("list.txt").find("\"GPS\":[1]"), std::string::npos);
}

}  // namespace
