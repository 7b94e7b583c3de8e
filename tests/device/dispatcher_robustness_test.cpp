#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "device/dev_q5.h"
#include "net/packet.h"
#include "tests/support/debug_capture.h"

namespace {

// Texts a hostile or broken server might send.
const char* kSeeds[] = {
    "{\"OPERATION\":\"CONNECT\"}",
    "{\"OPERATION\":\"GETCALENDAR\",\"PARAMETER\":{\"SERIAL\":7}}",
    "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"s\",\"PALYBACKCMD\":2}}",
    "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"s\",\"CMD\":0,\"SSRC\":3}}",
    "{\"OPERATION\":\"REQUESTALIVEVIDEO\",\"PARAMETER\":{\"STREAMNAME\":\"s\",\"CHANNEL\":1,\"IPANDPORT\":\"1:2\"}}",
    "{\"OPERATION\":\"QUERYFILELIST\",\"PARAMETER\":[1,2]}",
    "{\"OPERATION\":\"GETDEVVERSIONINFO\",\"PARAMETER\":\"x\"}",
    "{\"OPERATION\":\"CONTROLSTREAM\",\"PARAMETER\":{\"STREAMNAME\":[],\"CMD\":{},\"SSRC\":\"9\"}}",
    "[\"OPERATION\",\"CONNECT\"]",
    "\"CONNECT\"",
    "12",
    "{\"OPERATION\":1}",
    "{\"OPERATION\":\"KEEPALIVE\"}",
    "{\"OPERATION\":\"CONTROLREMOTEPLAYBACK\",\"PARAMETER\":{\"STREAMNAME\":\"s\",\"PALYBACKCMD\":1e300}}",
};

std::string Mutate(std::string s, std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, 5);
  std::uniform_int_distribution<int> byte(0, 255);
  int edits = 1 + pick(rng);
  for (int i = 0; i < edits && !s.empty(); ++i) {
    size_t pos = std::uniform_int_distribution<size_t>(0, s.size() - 1)(rng);
    switch (pick(rng)) {
      case 0: s[pos] = static_cast<char>(byte(rng)); break;
      case 1: s.erase(pos, 1); break;
      case 2: s.insert(pos, 1, static_cast<char>(byte(rng))); break;
      case 3: s.insert(pos, "[[[[{\"a\":"); break;
      case 4: s.resize(pos); break;
      default: s.insert(pos, std::string(200, 'A')); break;
    }
  }
  return s;
}

TEST(DispatcherRobustnessTest, RandomAndMutatedTextsNeverCrashOrThrow) {
  DebugCapture capture;  // keeps the run quiet
  CDevQ5 dev;
  std::mt19937 rng(12345);
  for (int i = 0; i < 4000; ++i) {
    std::string text = Mutate(kSeeds[i % (sizeof kSeeds / sizeof kSeeds[0])], rng);
    ASSERT_NO_THROW(dev.Session().DispatchSignal(text.data(), static_cast<int32_t>(text.size())));
    capture.Clear();
  }
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> pkt(static_cast<size_t>(12 + byte(rng)));
    for (auto& b : pkt) b = static_cast<uint8_t>(byte(rng));
    if (i % 2) WritePacketHead(pkt.data(), 0, 0, static_cast<int32_t>(pkt.size() - 12 + (i % 7) - 3));
    ASSERT_NO_THROW(dev.Session().OnSignalPacket(pkt.data(), static_cast<int32_t>(pkt.size())));
    capture.Clear();
  }
}

TEST(DispatcherRobustnessTest, TextWithoutNulIsReadOnlyWithinThePayload) {
  DebugCapture capture;
  CDevQ5 dev;
  // A packet whose payload lacks the NUL: the text ends with the payload.
  std::string text = "{\"OPERATION\":\"CONNECT\"}";
  std::vector<uint8_t> pkt(12 + text.size());
  WritePacketHead(pkt.data(), 0, 0, static_cast<int32_t>(text.size()));
  memcpy(pkt.data() + 12, text.data(), text.size());
  dev.Session().OnSignalPacket(pkt.data(), static_cast<int32_t>(pkt.size()));
  EXPECT_TRUE(dev.IsOnline());
  EXPECT_EQ(capture.Count(text), 1);
}

TEST(DispatcherRobustnessTest, PacketsOfOtherTypesAreDroppedSilently) {
  DebugCapture capture;
  CDevQ5 dev;
  std::string text = "{\"OPERATION\":\"CONNECT\"}";
  std::vector<uint8_t> pkt(12 + text.size() + 1, 0);
  WritePacketHead(pkt.data(), NTYPE_TALK, 0, static_cast<int32_t>(text.size() + 1));
  memcpy(pkt.data() + 12, text.data(), text.size());
  dev.Session().OnSignalPacket(pkt.data(), static_cast<int32_t>(pkt.size()));
  EXPECT_FALSE(dev.IsOnline());
  EXPECT_TRUE(capture.Lines().empty());
}

}  // namespace
