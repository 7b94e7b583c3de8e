#include "app/settings_file.h"

#include <gtest/gtest.h>

#include "app/gps_file.h"
#include "app/list_file.h"
#include "device/gps_track.h"
#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kDefaultFile = std::string("{\"REG\":\"127.0.0.1:5556\",\"VF\":\"\"}") + '\0';

TEST(SettingsFile, FirstStartWithoutFilesGivesDefaultsEmptyTrackAndEmptyFleet) {
  CTempDir dir;
  DebugCapture debug;
  Json::Value settings;
  LoadSettings(dir.Path(), settings);
  EXPECT_EQ(SettingsReg(settings), "127.0.0.1:5556");
  EXPECT_EQ(SettingsVf(settings), "");

  CGpsTrack track;
  EXPECT_EQ(LoadGpsFile(dir.Path(), track), 0);
  EXPECT_EQ(track.Count(), 0);

  std::vector<ListEntry> entries(1);
  EXPECT_FALSE(ReadListFile(dir.Path(), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_TRUE(debug.Lines().empty());

  ASSERT_TRUE(WriteSettings(dir.Path(), settings));
  EXPECT_EQ(dir.Read("devset.txt"), kDefaultFile);
}

TEST(SettingsFile, VfOnlyWithoutZeroByteGetsRegDefaultAndWritesBothBack) {
  CTempDir dir;
  DebugCapture debug;
  ASSERT_TRUE(dir.Write("devset.txt", "{\"VF\":\"/data/a.frm\"}"));
  Json::Value settings;
  LoadSettings(dir.Path(), settings);
  EXPECT_EQ(SettingsReg(settings), "127.0.0.1:5556");
  EXPECT_EQ(SettingsVf(settings), "/data/a.frm");
  EXPECT_TRUE(debug.Lines().empty());

  ASSERT_TRUE(StoreSettings(dir.Path(), settings, SettingsReg(settings), SettingsVf(settings)));
  EXPECT_EQ(dir.Read("devset.txt"),
            std::string("{\"REG\":\"127.0.0.1:5556\",\"VF\":\"/data/a.frm\"}") + '\0');
}

TEST(SettingsFile, OtherMembersSurviveAStore) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("devset.txt",
                        std::string("{\"zz\":{\"k\":true},\"REG\":\"10.0.0.1:7000\",\"A\":[1,2],"
                                    "\"VF\":\"v\"}") + '\0'));
  Json::Value settings;
  LoadSettings(dir.Path(), settings);
  EXPECT_EQ(SettingsReg(settings), "10.0.0.1:7000");
  ASSERT_TRUE(StoreSettings(dir.Path(), settings, "1.2.3.4:9", ""));
  EXPECT_EQ(dir.Read("devset.txt"),
            std::string("{\"A\":[1,2],\"REG\":\"1.2.3.4:9\",\"VF\":\"\",\"zz\":{\"k\":true}}") + '\0');
}

TEST(SettingsFile, TextAfterTheZeroByteIsIgnored) {
  CTempDir dir;
  DebugCapture debug;
  ASSERT_TRUE(dir.Write("devset.txt", std::string("{\"VF\":\"a\"}") + '\0' + "garbage{{"));
  Json::Value settings;
  LoadSettings(dir.Path(), settings);
  EXPECT_EQ(SettingsVf(settings), "a");
  EXPECT_TRUE(debug.Lines().empty());
}

TEST(SettingsFile, GarbageLogsOnceAndKeepsWhatParsedBeforeIt) {
  CTempDir dir;
  DebugCapture debug;
  ASSERT_TRUE(dir.Write("devset.txt", "{\"VF\":\"keep.frm\", garbage"));
  Json::Value settings;
  LoadSettings(dir.Path(), settings);
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"dev - json parse failed."});
  EXPECT_EQ(SettingsVf(settings), "keep.frm");
  EXPECT_EQ(SettingsReg(settings), "127.0.0.1:5556");
}

TEST(SettingsFile, EmptyFileIsSilentAndOnlyAZeroByteFailsToParse) {
  CTempDir dir;
  DebugCapture debug;
  Json::Value settings;
  ASSERT_TRUE(dir.Write("devset.txt", ""));
  LoadSettings(dir.Path(), settings);
  EXPECT_TRUE(debug.Lines().empty());
  EXPECT_EQ(SettingsReg(settings), "127.0.0.1:5556");

  ASSERT_TRUE(dir.Write("devset.txt", std::string(1, '\0')));
  LoadSettings(dir.Path(), settings);
  EXPECT_EQ(debug.Count("dev - json parse failed."), 1);
  EXPECT_EQ(SettingsReg(settings), "127.0.0.1:5556");
}

TEST(SettingsFile, FileLongerThanTheLimitIsCutAndFailsToParse) {
  CTempDir dir;
  DebugCapture debug;
  ASSERT_TRUE(dir.Write("devset.txt", "{\"REG\":\"1.1.1.1:1\",\"VF\":\"" + std::string(50000, 'x') + "\"}"));
  Json::Value settings;
  LoadSettings(dir.Path(), settings);
  EXPECT_EQ(debug.Count("dev - json parse failed."), 1);
  EXPECT_EQ(SettingsReg(settings), "1.1.1.1:1");  // parsed before the cut
  EXPECT_EQ(SettingsVf(settings), "");            // the cut string never closed
}

TEST(SettingsFile, RootThatIsNotAnObjectBecomesTheDefaults) {
  for (const char* text : {"[1,2,3]", "42", "\"127.0.0.1:1\"", "null", "true"}) {
    SCOPED_TRACE(text);
    CTempDir dir;
    DebugCapture debug;
    ASSERT_TRUE(dir.Write("devset.txt", text));
    Json::Value settings;
    LoadSettings(dir.Path(), settings);
    ASSERT_TRUE(settings.isObject());
    EXPECT_EQ(settings.size(), 2u);
    ASSERT_TRUE(WriteSettings(dir.Path(), settings));
    EXPECT_EQ(dir.Read("devset.txt"), kDefaultFile);
  }
}

TEST(SettingsFile, NonStringRegAndVfAreReplacedByDefaults) {
  CTempDir dir;
  ASSERT_TRUE(dir.Write("devset.txt", "{\"REG\":5556,\"VF\":[\"a\"],\"X\":1}"));
  Json::Value settings;
  LoadSettings(dir.Path(), settings);
  EXPECT_TRUE(settings["REG"].isString());
  EXPECT_TRUE(settings["VF"].isString());
  EXPECT_EQ(SettingsReg(settings), "127.0.0.1:5556");
  EXPECT_EQ(SettingsVf(settings), "");
  EXPECT_EQ(settings["X"].asInt(), 1);

  // The accessors never throw, whatever the object holds.
  Json::Value odd(Json::arrayValue);
  EXPECT_EQ(SettingsReg(odd), "127.0.0.1:5556");
  Json::Value wrong(Json::objectValue);
  wrong["VF"] = 3;
  EXPECT_EQ(SettingsVf(wrong), "");
}

TEST(SettingsFile, StoreTurnsANonObjectIntoAnObjectAndReportsWriteFailure) {
  CTempDir dir;
  Json::Value settings(Json::arrayValue);
  EXPECT_FALSE(StoreSettings(dir.File("missing"), settings, "a:1", "v"));
  ASSERT_TRUE(settings.isObject());
  EXPECT_EQ(SettingsReg(settings), "a:1");
  EXPECT_EQ(SettingsVf(settings), "v");
}

TEST(SettingsFile, SplitRegAddressAtTheFirstColon) {
  struct Case {
    const char* reg;
    const char* address;
    int32_t port;
  };
  const Case cases[] = {
      {"127.0.0.1:5556", "127.0.0.1", 5556}, {"host:", "host", 0},
      {"a:12x3", "a", 12},                   {"a:b:80", "a", 0},
      {":7", "", 7},                         {"1.2.3.4:-5", "1.2.3.4", 0},
      {"h: 80", "h", 0},                     {"h:99999999999999", "h", INT32_MAX},
      {"h:65536", "h", 65536},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reg);
    std::string address = "old";
    int32_t port = -1;
    ASSERT_TRUE(SplitRegAddress(c.reg, address, port));
    EXPECT_EQ(address, c.address);
    EXPECT_EQ(port, c.port);
  }
  std::string address = "old";
  int32_t port = 42;
  EXPECT_FALSE(SplitRegAddress("127.0.0.1", address, port));
  EXPECT_FALSE(SplitRegAddress("", address, port));
  EXPECT_EQ(address, "old");
  EXPECT_EQ(port, 42);
}

}  // namespace
