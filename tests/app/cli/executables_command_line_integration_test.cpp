// Every executable's --help and --version print and end with status 0 without
// opening a window or writing a file; the window without a display says why
// and ends with status 1 instead of aborting.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"
#include "zel_version.h"

namespace {

bool Built(const std::string& name) { return access((std::string(ZEL_BIN_DIR) + "/" + name).c_str(), X_OK) == 0; }

// Copies the executable into dir and runs it there, without any display and
// with no input; its output lands in out.txt and err.txt. The exit status, or
// -1 when it did not end normally.
int RunInDir(const CTempDir& dir, const std::string& name, const std::string& args) {
  std::string cmd = "cd '" + dir.Path() + "' && cp '" + ZEL_BIN_DIR + "/" + name +
                    "' . && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ./" + name + " " + args +
                    " </dev/null >out.txt 2>err.txt";
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ExecutablesCommandLine, HelpAndVersionExitZeroAndWriteNothing) {
  for (const char* exe : {"zel-cli", "zel-server", "zel-mkframes", "zel", "zel-screenshots"}) {
    const std::string name = exe;
    if (!Built(name)) continue;  // the window tools are optional
    CTempDir dir;
    EXPECT_EQ(RunInDir(dir, name, "--help"), 0) << name << ": " << dir.Read("err.txt");
    EXPECT_NE(dir.Read("out.txt").find("\nUsage: " + name + " "), std::string::npos) << name << ": " << dir.Read("out.txt");
    EXPECT_EQ(RunInDir(dir, name, "--version"), 0) << name << ": " << dir.Read("err.txt");
    EXPECT_EQ(dir.Read("out.txt"), name + " " + ZEL_VERSION + "\n");
    EXPECT_EQ(dir.Read("err.txt"), "") << name;
    EXPECT_EQ(dir.Listing(), "err.txt out.txt " + name) << name;
  }
}

TEST(ExecutablesCommandLine, WindowWithoutADisplayExitsOneAndSaysWhy) {
  if (!Built("zel")) GTEST_SKIP() << "zel is not built";
  CTempDir dir;
  EXPECT_EQ(RunInDir(dir, "zel", ""), 1);
  std::string err = dir.Read("err.txt");
  EXPECT_NE(err.find("DISPLAY"), std::string::npos) << err;
  EXPECT_NE(err.find("QT_QPA_PLATFORM=offscreen"), std::string::npos) << err;
  EXPECT_EQ(dir.Listing(), "err.txt out.txt zel");
}

}  // namespace
