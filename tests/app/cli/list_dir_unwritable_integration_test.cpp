// list.txt's directory is no longer writable when the fleet closes: the old
// list.txt must survive byte for byte, no temporary file may be left beside
// it, and the failure must be reported (SaveAndRelease's result; zel-cli's
// exit status and its line on standard error). Run as root too: the writing
// thread and the zel-cli process lose the right to ignore permission bits.
#include <gtest/gtest.h>

#include <string>

#include "app/fleet.h"
#include "tests/app/cli/cli_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"
#include "tests/support/write_denied.h"

namespace {

constexpr int kWaitMs = 20000;

const std::string kOldList =
    std::string("{\"AD\":[1,1],\"AS\":[1,1],\"AT\":[0,0],\"COUNT\":2,\"DT\":[0,0],\"FREQ\":[10,10],"
                "\"GPS\":[0,0],\"ID\":[\"OLD-0001\",\"OLD-0002\"],\"REALCLOSE\":[0,0],\"UP\":[0,0]}") + '\0';

TEST(ListDirUnwritable, FleetReportsTheFailureKeepsTheOldFileAndStillReleasesItsDevices) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("list.txt", kOldList));
  CFleet fleet(dir.Path());
  ASSERT_EQ(fleet.LoadAll(), 2);
  ASSERT_EQ(fleet.AddDevices("NEW", 3), 3);
  CWriteDenied denied;
  if (!denied.Lock(dir.Path())) GTEST_SKIP() << "cannot make a directory unwritable here";

  EXPECT_FALSE(fleet.SaveAndRelease());
  denied.Restore();
  EXPECT_EQ(fleet.RowCount(), 0);
  // A second close writes nothing and still reports the failure.
  EXPECT_FALSE(fleet.SaveAndRelease());
  EXPECT_EQ(dir.Read("list.txt"), kOldList);
  EXPECT_EQ(dir.Listing(), "list.txt");
  // The same fleet in a writable directory saves its devices: the refusal
  // above came from the directory alone.
  CFleet again(dir.Path());
  ASSERT_EQ(again.LoadAll(), 2);
  ASSERT_EQ(again.AddDevices("NEW", 1), 1);
  EXPECT_TRUE(again.SaveAndRelease());
  EXPECT_NE(dir.Read("list.txt").find("\"ID\":[\"OLD-0001\",\"OLD-0002\",\"NEW\"]"), std::string::npos);
}

TEST(ListDirUnwritable, CliExitsWithFailureAndALineAndKeepsTheOldFile) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("list.txt", kOldList));
  // Dropped before the start, so that zel-cli runs without the rights too.
  CWriteDenied denied;
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "add NEW 2"}));
  ASSERT_TRUE(WaitUntil([&] { return cli.OutHas("added 2\n"); }, kWaitMs)) << cli.Err();
  if (!denied.Lock(dir.Path())) {
    cli.Send("quit\n");
    cli.WaitExit(kWaitMs);
    GTEST_SKIP() << "cannot make a directory unwritable here";
  }
  ASSERT_TRUE(cli.Send("quit\n"));
  int status = cli.WaitExit(kWaitMs);
  denied.Restore();
  EXPECT_EQ(status, 1) << cli.Err();
  EXPECT_NE(cli.Err().find(dir.Path() + "/list.txt could not be written\n"), std::string::npos) << cli.Err();
  EXPECT_EQ(dir.Read("list.txt"), kOldList);
  EXPECT_EQ(dir.Listing(), "err.txt list.txt out.txt zel-cli");
}

}  // namespace
