// zel-server and zel-cli as processes: logins, and each kind of media request
// end to end, with the recorded live stream checked against the frame file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "media/frame_reader.h"
#include "tests/app/cli/cli_process.h"
#include "tests/app/cli/server_process.h"

namespace {

// The payloads of one pass through the frame file, in order.
std::string FilePayloads(const std::string& path) {
  CFrameReader reader;
  std::string all;
  if (!reader.Open(path.c_str())) return all;
  FrameInfo info;
  bool restarted = false;
  for (int i = 0; i < 100000; ++i) {
    int32_t r = reader.Next(&info, &restarted);
    if (restarted && !all.empty()) break;
    if (r == CHUNK_IDLE) break;
    if (r != CHUNK_OK) continue;
    all.append(reinterpret_cast<const char*>(info.pPayload), static_cast<size_t>(info.nPayloadLen));
    reader.Consume(info);
  }
  return all;
}

bool MakeFrameFile(const std::string& path) {
  std::string cmd = std::string(ZEL_BIN_DIR) + "/zel-mkframes synth " + path + " --seconds 4 --fps 25 >/dev/null";
  return system(cmd.c_str()) == 0;
}

TEST(SimulatorEndToEndTest, LoginsAndEveryKindOfMediaStream) {
  CTempDir dir;
  ASSERT_TRUE(MakeFrameFile(dir.File("f.h264")));
  CServerProcess server(dir);
  ASSERT_TRUE(server.Start({"--record", dir.File("rec")}));
  CCliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"-e", "set " + server.Reg() + " " + dir.File("f.h264"), "-e", "add E 4", "-e", "online",
                         "--duration", "120"}));
  for (const char* id : {"E-0001", "E-0002", "E-0003", "E-0004"}) {
    ASSERT_TRUE(server.WaitOut(std::string("login ") + id + " ", 15000)) << server.Out();
  }
  server.Command("live E-0001 5");
  server.Command("download E-0002");
  server.Command("playback E-0003");
  server.Command("talk E-0004");
  // The download ends by itself after exactly 3,750 packets.
  EXPECT_TRUE(server.WaitOut("stream ended: s2 download device=E-0002 ended packets=3750 bytes=30000000", 30000))
      << server.Out();
  // Let the live stream run for a good part of the file.
  ASSERT_TRUE(WaitUntil([&] { return dir.Read("rec/s1-ch2.h264").size() >= 40u * 4000u; }, 20000));
  server.Command("stop s1");
  server.Command("stop s3");
  server.Command("stop s4");
  EXPECT_TRUE(server.WaitOut("stream ended: s1 live", 10000));
  EXPECT_TRUE(server.WaitOut("stream ended: s3 playback", 10000));
  EXPECT_TRUE(server.WaitOut("stream ended: s4 talk", 10000));
  std::string out = server.Out();
  // Playback went out on channels 0 to 3; talk went both ways.
  size_t pb = out.find("stream ended: s3 playback");
  std::string pbLine = out.substr(pb, out.find('\n', pb) - pb);
  for (const char* ch : {" ch0: packets=", " ch1: packets=", " ch2: packets=", " ch3: packets="}) {
    EXPECT_NE(pbLine.find(ch), std::string::npos) << pbLine;
  }
  size_t tk = out.find("stream ended: s4 talk");
  std::string tkLine = out.substr(tk, out.find('\n', tk) - tk);
  EXPECT_EQ(tkLine.find("talk-sent=0 "), std::string::npos) << tkLine;
  EXPECT_EQ(tkLine.find("talk-received=0 "), std::string::npos) << tkLine;

  // The recorded live channels are the frame file's payloads from its start.
  std::string payloads = FilePayloads(dir.File("f.h264"));
  ASSERT_FALSE(payloads.empty());
  std::string ch0 = dir.Read("rec/s1-ch0.h264");
  std::string ch2 = dir.Read("rec/s1-ch2.h264");
  ASSERT_GE(ch0.size(), 4000u);
  std::string expected = payloads + payloads + payloads;
  EXPECT_EQ(ch0, expected.substr(0, ch0.size()));
  EXPECT_EQ(ch2, expected.substr(0, ch2.size()));
  EXPECT_FALSE(dir.Exists("rec/s1-ch1.h264"));

  cli.Send("quit\n");
  EXPECT_EQ(cli.WaitExit(20000), 0) << cli.Err().substr(0, 2000);
  EXPECT_NE(dir.Read("list.txt").find("\"ID\":[\"E-0001\",\"E-0002\",\"E-0003\",\"E-0004\"]"), std::string::npos);
  EXPECT_EQ(server.Quit(10000), 0);
  EXPECT_TRUE(server.OutHas("summary "));
  EXPECT_FALSE(server.OutHas("malformed=1"));
}

}  // namespace
