#include "app/json_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/write_denied.h"

namespace {

Json::Value SampleDocument(size_t nTextLen) {
  Json::Value v(Json::objectValue);
  v["COUNT"] = 1;
  v["ID"].append(std::string(nTextLen, 'n'));
  return v;
}

TEST(JsonFileWrite, ReplacesTheTargetAndLeavesNoTemporaryFile) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("list.txt", "old content that is longer than the new one"));
  ASSERT_TRUE(WriteJsonFile(dir.File("list.txt"), SampleDocument(2)));
  EXPECT_EQ(dir.Read("list.txt"), std::string("{\"COUNT\":1,\"ID\":[\"nn\"]}") + '\0');
  EXPECT_EQ(dir.Listing(), "list.txt");
}

TEST(JsonFileWrite, MissingDirectoryOrFileAsParentFails) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("plain", "x"));
  EXPECT_FALSE(WriteJsonFile(dir.File("nodir/list.txt"), SampleDocument(1)));
  EXPECT_FALSE(WriteJsonFile(dir.File("plain/list.txt"), SampleDocument(1)));
  EXPECT_EQ(dir.Listing(), "plain");
  EXPECT_EQ(dir.Read("plain"), "x");
}

TEST(JsonFileWrite, FailedRenameLeavesTheTargetAndNoTemporaryFile) {
  CTempDir dir;
  ASSERT_EQ(mkdir(dir.File("list.txt").c_str(), 0755), 0);
  ASSERT_TRUE(dir.Write("list.txt/keep", "k"));
  EXPECT_FALSE(WriteJsonFile(dir.File("list.txt"), SampleDocument(1)));
  EXPECT_EQ(dir.Listing(), "list.txt");
  EXPECT_EQ(dir.Read("list.txt/keep"), "k");
}

// A write that fails half way (as on a full disk) must not touch the target.
TEST(JsonFileWrite, FailedWriteLeavesTheExistingTargetUntouched) {
  CTempDir dir;
  const std::string old = std::string("{\"COUNT\":0}") + '\0';
  ASSERT_TRUE(dir.Write("list.txt", old));
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = WriteJsonFile(dir.File("list.txt"), SampleDocument(100000));
  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_FALSE(written);
  EXPECT_EQ(dir.Read("list.txt"), old);
  EXPECT_EQ(dir.Listing(), "list.txt");
}

TEST(JsonFileWrite, ReadOnlyDirectoryFails) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("list.txt", "old"));
  CWriteDenied denied;
  if (!denied.Lock(dir.Path())) GTEST_SKIP() << "cannot make a directory unwritable here";
  bool written = WriteJsonFile(dir.File("list.txt"), SampleDocument(1));
  denied.Restore();
  EXPECT_FALSE(written);
  EXPECT_EQ(dir.Read("list.txt"), "old");
  EXPECT_EQ(dir.Listing(), "list.txt");
}

TEST(JsonFileWrite, ExistingTargetKeepsItsPermissions) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("devset.txt", "old"));
  ASSERT_EQ(chmod(dir.File("devset.txt").c_str(), 0640), 0);
  ASSERT_TRUE(WriteJsonFile(dir.File("devset.txt"), SampleDocument(1)));
  struct stat st {};
  ASSERT_EQ(stat(dir.File("devset.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(JsonFileRead, MissingEmptyAndUnusualFilesLeaveTheTargetWithoutADebugLine) {
  CTempDir dir;
  DebugCapture debug;
  Json::Value v("untouched");
  EXPECT_EQ(ReadJsonFile(dir.File("none.txt"), JSON_FILE_LIMIT_LIST, v), JSON_FILE_READ_NONE);
  ASSERT_TRUE(dir.Write("empty.txt", ""));
  EXPECT_EQ(ReadJsonFile(dir.File("empty.txt"), JSON_FILE_LIMIT_LIST, v), JSON_FILE_READ_NONE);
  // Something that exists but is no file to read: the caller must not replace it.
  ASSERT_EQ(mkdir(dir.File("adir").c_str(), 0755), 0);
  std::string why;
  EXPECT_EQ(ReadJsonFile(dir.File("adir"), JSON_FILE_LIMIT_LIST, v, &why), JSON_FILE_READ_UNREADABLE);
  EXPECT_EQ(why, "cannot be read (not a regular file)");
  // A FIFO without a writer would block a plain open for ever.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
  EXPECT_EQ(ReadJsonFile(dir.File("fifo"), JSON_FILE_LIMIT_LIST, v), JSON_FILE_READ_UNREADABLE);
  EXPECT_EQ(v, Json::Value("untouched"));
  EXPECT_TRUE(debug.Lines().empty());
}

TEST(JsonFileRead, TextEndsAtTheFirstZeroByteOrWithTheLimit) {
  CTempDir dir;
  DebugCapture debug;
  ASSERT_TRUE(dir.Write("a.txt", std::string("{\"A\":1}") + '\0' + "{\"B\":2}"));
  Json::Value v;
  EXPECT_EQ(ReadJsonFile(dir.File("a.txt"), 100, v), JSON_FILE_READ_OK);
  EXPECT_EQ(v.getMemberNames(), std::vector<std::string>{"A"});

  Json::Value cut;
  std::string why;
  EXPECT_EQ(ReadJsonFile(dir.File("a.txt"), 6, cut, &why), JSON_FILE_READ_TOO_BIG);
  EXPECT_EQ(why, "is larger than 6 bytes, the most that is read");
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"dev - json parse failed."});
}

}  // namespace
