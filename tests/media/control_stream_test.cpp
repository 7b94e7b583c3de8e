#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/dev_q5.h"
#include "media/stream_set.h"
#include "tests/support/debug_capture.h"

namespace {

void Send(CDevQ5& dev, const std::string& text) { dev.Session().DispatchSignal(text.c_str(), static_cast<int32_t>(text.size() + 1)); }

void Claim(StreamSlot& s, const char* name, uint32_t mask) {
  snprintf(s.szStreamName, sizeof s.szStreamName, "%s", name);
  s.nChannelMask.store(mask);
  s.bPlaying.store(1);
  s.bStop.store(0);
  s.bInUse.store(1);
}

struct ControlTest : ::testing::Test {
  // Before the device: it gets its stream set when it is made.
  struct Install {
    Install() { InstallMediaStreams(); }
  } install;
  DebugCapture capture;
  CDevQ5 dev;
  StreamSlot* slots = MediaStreamsOf(dev).slots;
  void TearDown() override {
    for (int i = 0; i < MAX_STREAMS; ++i) slots[i].bInUse.store(0);
  }
};

TEST_F(ControlTest, PlaybackCommandsStopPlayPauseAndIgnoreOthers) {
  Claim(slots[4], "pb", 1);
  Send(dev, "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"pb\",\"PALYBACKCMD\":2}}");
  EXPECT_EQ(slots[4].bPlaying.load(), 0);
  Send(dev, "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"pb\",\"PALYBACKCMD\":1}}");
  EXPECT_EQ(slots[4].bPlaying.load(), 1);
  Send(dev, "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"pb\",\"PALYBACKCMD\":3}}");
  EXPECT_EQ(slots[4].bStop.load(), 0);
  EXPECT_EQ(slots[4].bPlaying.load(), 1);
  Send(dev, "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"other\"}}");
  EXPECT_EQ(slots[4].bStop.load(), 0);
  // No PALYBACKCMD reads as 0: stop.
  Send(dev, "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"pb\"}}");
  EXPECT_EQ(slots[4].bStop.load(), 1);
  // Strings and reals convert the system's way: "1" is 0 (stop), 2.9 is 2 (pause).
  slots[4].bStop.store(0);
  Send(dev, "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"pb\",\"PALYBACKCMD\":2.9}}");
  EXPECT_EQ(slots[4].bPlaying.load(), 0);
  Send(dev, "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"pb\",\"PALYBACKCMD\":\"1\"}}");
  EXPECT_EQ(slots[4].bStop.load(), 1);
}

TEST_F(ControlTest, ControlStreamClearsTheBitOfSsrcLowFiveBits) {
  Claim(slots[0], "live", 5);
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"live\",\"CMD\":0,\"SSRC\":2}}");
  EXPECT_EQ(slots[0].nChannelMask.load(), 1u);
  slots[0].nChannelMask.store(5);
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"live\",\"CMD\":0,\"SSRC\":34}}");
  EXPECT_EQ(slots[0].nChannelMask.load(), 1u);
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"live\",\"CMD\":1,\"SSRC\":0}}");
  EXPECT_EQ(slots[0].nChannelMask.load(), 1u);
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"live\",\"CMD\":0,\"SSRC\":0}}");
  EXPECT_EQ(slots[0].nChannelMask.load(), 0u);
}

TEST_F(ControlTest, OnlyTheLowestClaimedSlotOfANameIsControlled) {
  Claim(slots[7], "dup", 3);
  Claim(slots[9], "dup", 3);
  Claim(slots[2], "dup", 3);
  slots[2].bInUse.store(0);  // free slots never match
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"dup\",\"CMD\":0,\"SSRC\":1}}");
  EXPECT_EQ(slots[2].nChannelMask.load(), 3u);
  EXPECT_EQ(slots[7].nChannelMask.load(), 1u);
  EXPECT_EQ(slots[9].nChannelMask.load(), 3u);
}

TEST_F(ControlTest, BadNamesAndParametersAreIgnored) {
  Claim(slots[0], "s", 7);
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":1,\"CMD\":0,\"SSRC\":0}}");
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":[\"s\"]}");
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":\"s\"}");
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\"}");
  Send(dev, "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"" + std::string(150, 's') +
                "\",\"CMD\":0,\"SSRC\":0}}");
  EXPECT_EQ(slots[0].nChannelMask.load(), 7u);
  // Each of them was still logged as a received text.
  EXPECT_EQ(capture.CountContaining("CONTROLSTREAM"), 5);
}

TEST_F(ControlTest, ConnectAnswerSetsOnlineAndLoginTime) {
  Send(dev, "{\"OPERATION\":\"CONNECT\",\"RESPONSE\":{\"ERRORCODE\":1}}");
  EXPECT_TRUE(dev.IsOnline());
  // Partial text: acted on as far as the reader got.
  CDevQ5 other;
  Send(other, "{\"OPERATION\":\"CONNECT\" garbage");
  EXPECT_TRUE(other.IsOnline());
}

}  // namespace
