// The console: command lines parsed into commands, commands built into the
// request texts the devices receive, and the server's command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/json_writer.h"
#include "tools/server/console.h"
#include "tools/server/console_reader.h"
#include "tools/server/requests.h"
#include "tools/server/server_options.h"

namespace {
std::string RequestText(const std::string& line, int32_t serial, const std::string& stream) {
  ConsoleCommand cmd = ParseConsoleLine(line);
  EXPECT_NE(cmd.nVerb, CMD_INVALID) << cmd.szError;
  return WriteCompactJson(BuildRequest(cmd, serial, stream, "127.0.0.1:5556"));
}
}  // namespace

TEST(ServerConsole, ParsesVerbsAndArguments) {
  ConsoleCommand live = ParseConsoleLine("  live A-0001 0x5 ");
  EXPECT_EQ(live.nVerb, CMD_LIVE);
  EXPECT_EQ(live.szTarget, "A-0001");
  EXPECT_EQ(live.nMask, 5u);
  EXPECT_EQ(ParseConsoleLine("live A 4294967295").nMask, 0xFFFFFFFFu);
  EXPECT_EQ(ParseConsoleLine("playback A").nMask, 1u);
  EXPECT_EQ(ParseConsoleLine("playback A 12").nMask, 12u);
  ConsoleCommand drop = ParseConsoleLine("drop s3 34");
  EXPECT_EQ(drop.nVerb, CMD_DROP);
  EXPECT_EQ(drop.szTarget, "s3");
  EXPECT_EQ(drop.nChannel, 34);
  ConsoleCommand send = ParseConsoleLine("send A  {\"OPERATION\": \"X\", \"A\": 1}");
  EXPECT_EQ(send.nVerb, CMD_SEND);
  EXPECT_EQ(send.szJson, "{\"OPERATION\": \"X\", \"A\": 1}");
  EXPECT_EQ(ParseConsoleLine("").nVerb, CMD_NONE);
  EXPECT_EQ(ParseConsoleLine("quit").nVerb, CMD_QUIT);
}

TEST(ServerConsole, RefusesBadLines) {
  const char* bad[] = {"live A",        "live A -1",  "live A 4294967296", "live A 5x", "drop s1",
                       "drop s1 -2",    "talk",       "devices now",       "kick",      "send A",
                       "frobnicate A",  "playback A 1 2"};
  for (const char* line : bad) {
    ConsoleCommand cmd = ParseConsoleLine(line);
    EXPECT_EQ(cmd.nVerb, CMD_INVALID) << line;
    EXPECT_FALSE(cmd.szError.empty()) << line;
  }
}

TEST(ServerConsole, MediaRequestsCarrySerialStreamNameAndAddress) {
  EXPECT_EQ(RequestText("live A 5", 3, "s1"),
            "{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTALIVEVIDEO\",\"PARAMETER\":{\"CHANNEL\":5,"
            "\"IPANDPORT\":\"127.0.0.1:5556\",\"SERIAL\":3,\"STREAMNAME\":\"s1\"},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("download A", 4, "s2"),
            "{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTDOWNLOADVIDEO\",\"PARAMETER\":{"
            "\"IPANDPORT\":\"127.0.0.1:5556\",\"SERIAL\":4,\"STREAMNAME\":\"s2\"},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("playback A 3", 5, "s3"),
            "{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTREMOTEPLAYBACK\",\"PARAMETER\":{\"CHANNEL\":3,"
            "\"IPANDPORT\":\"127.0.0.1:5556\",\"SERIAL\":5,\"STREAMNAME\":\"s3\"},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("talk A", 6, "s4"),
            "{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTTALK\",\"PARAMETER\":{"
            "\"IPANDPORT\":\"127.0.0.1:5556\",\"SERIAL\":6,\"STREAMNAME\":\"s4\"},\"SESSION\":\"\"}");
}

TEST(ServerConsole, ControlRequestsNameTheirStream) {
  const char* head = "{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":";
  EXPECT_EQ(RequestText("stop s2", 7, ""), std::string(head) + "{\"PALYBACKCMD\":0,\"SERIAL\":7,\"STREAMNAME\":\"s2\"},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("resume s2", 8, ""), std::string(head) + "{\"PALYBACKCMD\":1,\"SERIAL\":8,\"STREAMNAME\":\"s2\"},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("pause s2", 9, ""), std::string(head) + "{\"PALYBACKCMD\":2,\"SERIAL\":9,\"STREAMNAME\":\"s2\"},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("drop s2 2", 10, ""),
            "{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"CMD\":0,\"SERIAL\":10,"
            "\"SSRC\":2,\"STREAMNAME\":\"s2\"},\"SESSION\":\"\"}");
}

TEST(ServerConsole, QueriesGoToTheirModules) {
  EXPECT_EQ(RequestText("calendar A", 1, ""),
            "{\"MODULE\":\"STORM\",\"OPERATION\":\"GETCALENDAR\",\"PARAMETER\":{\"SERIAL\":1},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("files A", 2, ""),
            "{\"MODULE\":\"STORM\",\"OPERATION\":\"QUERYFILELIST\",\"PARAMETER\":{\"SERIAL\":2},\"SESSION\":\"\"}");
  EXPECT_EQ(RequestText("version A", 3, ""),
            "{\"MODULE\":\"DEVEMM\",\"OPERATION\":\"GETDEVVERSIONINFO\",\"PARAMETER\":{\"SERIAL\":3},\"SESSION\":\"\"}");
  EXPECT_EQ(FindRequestForm(CMD_DEVICES), nullptr);
  EXPECT_EQ(FindRequestForm(CMD_KICK), nullptr);
}

TEST(ServerConsole, CommandLineOptions) {
  ServerOptions opt;
  CLI::App app("", "zel-server");
  DefineServerOptions(app, &opt);
  const char* argv[] = {"zel-server", "--listen=127.0.0.2:0", "--stats", "5", "--record=/tmp/r",
                        "--idle-timeout", "0", "--no-login-answer", "--reply-to-uploads", "--quiet",
                        "--login-delay=150:150", "--stream-delay", "40"};
  ASSERT_NO_THROW(app.parse(13, argv));
  EXPECT_EQ(opt.loginDelay.nMs, 150u);
  EXPECT_EQ(opt.loginDelay.nJitterMs, 150u);
  EXPECT_EQ(opt.streamDelay.nMs, 40u);
  EXPECT_EQ(opt.streamDelay.nJitterMs, 0u);
  EXPECT_EQ(opt.szListenIp, "127.0.0.2");
  EXPECT_EQ(opt.nPort, 0);
  EXPECT_EQ(opt.nStatsSeconds, 5);
  EXPECT_EQ(opt.szRecordDir, "/tmp/r");
  EXPECT_EQ(opt.nIdleSeconds, 0);
  EXPECT_TRUE(opt.bNoLoginAnswer && opt.bReplyToUploads && opt.bQuiet);

  ServerOptions def;
  EXPECT_EQ(def.szListenIp + ":" + std::to_string(def.nPort), "127.0.0.1:5556");

  const std::vector<std::vector<const char*>> bad = {
      {"zel-server", "--listen", "localhost:5556"}, {"zel-server", "--listen=127.0.0.1:65536"},
      {"zel-server", "--listen", "127.0.0.1"},      {"zel-server", "--stats"},
      {"zel-server", "--stats", "-1"},              {"zel-server", "--idle-timeout=86401"},
      {"zel-server", "--record="},                  {"zel-server", "--frobnicate"},
      {"zel-server", "--login-delay", "-1"},        {"zel-server", "--login-delay=10:11"},
      {"zel-server", "--stream-delay=5:"},          {"zel-server", "--stream-delay", "600001"},
      {"zel-server", "--stream-delay", "1:2:3"},    {"zel-server", "--login-delay", "abc"}};
  for (const auto& args : bad) {
    ServerOptions o;
    CLI::App app2("", "zel-server");
    DefineServerOptions(app2, &o);
    EXPECT_THROW(app2.parse(static_cast<int>(args.size()), args.data()), CLI::ParseError) << args[1];
  }
}

TEST(ServerConsole, InputIsCutIntoLines) {
  std::string buf = "devices\r\nlive A 1\npart";
  std::vector<std::string> lines;
  TakeLines(buf, [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(lines, (std::vector<std::string>{"devices", "live A 1"}));
  EXPECT_EQ(buf, "part");
}
