#include <gtest/gtest.h>

#include <string>

#include "media/media_address.h"

namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

constexpr int32_t kServerPort = 6608;
const uint32_t kServerIp = Ip(192, 168, 7, 9);

struct Resolved {
  bool bOk;
  uint32_t nIp;
  uint16_t nPort;
};

Resolved Resolve(int32_t rules, const Json::Value& v) {
  MediaAddress a;
  a.nIp = 0xDEADBEEF;
  a.nPort = 1;
  bool ok = ResolveMediaAddress(rules, v, kServerIp, kServerPort, &a);
  return {ok, a.nIp, a.nPort};
}

void ExpectAddress(int32_t rules, const Json::Value& v, uint32_t ip, uint16_t port) {
  Resolved r = Resolve(rules, v);
  EXPECT_TRUE(r.bOk);
  EXPECT_EQ(r.nIp, ip);
  EXPECT_EQ(r.nPort, port);
}

TEST(MediaAddressRules, TalkIgnoresTextWithoutColonAndKeepsEmptyHostAndPortZero) {
  ExpectAddress(MEDIA_ADDR_TALK, Json::Value(), kServerIp, kServerPort);            // absent
  ExpectAddress(MEDIA_ADDR_TALK, Json::Value("10.1.2.3"), kServerIp, kServerPort);  // no colon
  ExpectAddress(MEDIA_ADDR_TALK, Json::Value(""), kServerIp, kServerPort);
  ExpectAddress(MEDIA_ADDR_TALK, Json::Value(":6000"), 0, 6000);                    // empty host: 0.0.0.0
  ExpectAddress(MEDIA_ADDR_TALK, Json::Value("10.1.2.3:0"), Ip(10, 1, 2, 3), 0);   // port 0 kept
  ExpectAddress(MEDIA_ADDR_TALK, Json::Value("10.1.2.3:7001"), Ip(10, 1, 2, 3), 7001);
}

TEST(MediaAddressRules, LiveRefusesAbsentOrColonlessTextAndUsesServerHostWhenEmpty) {
  EXPECT_FALSE(Resolve(MEDIA_ADDR_LIVE, Json::Value()).bOk);
  EXPECT_FALSE(Resolve(MEDIA_ADDR_LIVE, Json::Value("10.1.2.3")).bOk);
  EXPECT_FALSE(Resolve(MEDIA_ADDR_LIVE, Json::Value("")).bOk);
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value(":6000"), kServerIp, 6000);
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("10.1.2.3:0"), Ip(10, 1, 2, 3), 0);
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("127.0.0.1:80"), Ip(127, 0, 0, 1), 80);
}

TEST(MediaAddressRules, RecordingTakesWholeTextAsHostAndFillsServerPort) {
  for (int32_t rules : {MEDIA_ADDR_RECORDING}) {
    ExpectAddress(rules, Json::Value(), kServerIp, kServerPort);
    ExpectAddress(rules, Json::Value(""), kServerIp, kServerPort);
    ExpectAddress(rules, Json::Value("10.1.2.3"), Ip(10, 1, 2, 3), kServerPort);
    ExpectAddress(rules, Json::Value(":6000"), kServerIp, 6000);
    ExpectAddress(rules, Json::Value("10.1.2.3:0"), Ip(10, 1, 2, 3), kServerPort);
    ExpectAddress(rules, Json::Value(":0"), kServerIp, kServerPort);
    ExpectAddress(rules, Json::Value("10.1.2.3:x"), Ip(10, 1, 2, 3), kServerPort);  // not a number: 0
  }
}

TEST(MediaAddressRules, WrongTypesCountAsAbsent) {
  Json::Value arr(Json::arrayValue);
  arr.append("10.1.2.3:5");
  for (const Json::Value& v : {Json::Value(17), Json::Value(true), arr, Json::Value(Json::objectValue)}) {
    ExpectAddress(MEDIA_ADDR_TALK, v, kServerIp, kServerPort);
    ExpectAddress(MEDIA_ADDR_RECORDING, v, kServerIp, kServerPort);
    EXPECT_FALSE(Resolve(MEDIA_ADDR_LIVE, v).bOk);
  }
}

TEST(MediaAddressRules, HostNumbersAreCombinedUnmaskedAndMissingOnesAreZero) {
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("10.1:9"), Ip(10, 1, 0, 0), 9);
  // Numbers above 255 are OR-ed in unmasked and reach the next place up.
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("0.0.0.256:9"), Ip(0, 0, 1, 0), 9);
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("0.0.2.300:9"), 0x200u | 300u, 9);  // 812, not 556
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("2.256.0.0:9"), Ip(3, 0, 0, 0), 9);
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("-1.0.0.0:9"), 0xFF000000u, 9);
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("host:9"), 0, 9);
}

TEST(MediaAddressRules, PortIsReadByAtoiAndKeptAs16Bits) {
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("1.2.3.4:70000"), Ip(1, 2, 3, 4), static_cast<uint16_t>(70000));
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("1.2.3.4:12ab"), Ip(1, 2, 3, 4), 12);
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("1.2.3.4:-1"), Ip(1, 2, 3, 4), 65535);
  // Only the first colon separates.
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("1.2.3.4:55:66"), Ip(1, 2, 3, 4), 55);
  // A recording port that is 0 as 16 bits takes the server's port.
  ExpectAddress(MEDIA_ADDR_RECORDING, Json::Value("1.2.3.4:65536"), Ip(1, 2, 3, 4), kServerPort);
}

TEST(MediaAddressRules, TextIsCutTo99CharactersBeforeParsing) {
  // The colon at index 99 is cut off: live refuses, recording reads the host alone.
  std::string text = "10.1.2.3" + std::string(91, ' ') + ":6000";
  ASSERT_EQ(text.find(':'), 99u);
  EXPECT_FALSE(Resolve(MEDIA_ADDR_LIVE, Json::Value(text)).bOk);
  ExpectAddress(MEDIA_ADDR_RECORDING, Json::Value(text), Ip(10, 1, 2, 3), kServerPort);
  // A colon at index 97 survives, and the port is the one digit left of it.
  std::string near = "10.1.2.3" + std::string(89, ' ') + ":6000";
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value(near), Ip(10, 1, 2, 3), 6);
  // Very long texts parse the same way without reading beyond the cut.
  ExpectAddress(MEDIA_ADDR_LIVE, Json::Value("9.8.7.6:5" + std::string(100000, 'x')), Ip(9, 8, 7, 6), 5);
}

TEST(MediaAddressRules, TextEndsAtAnEmbeddedNul) {
  std::string text("10.1.2.3\0:6000", 14);
  EXPECT_FALSE(Resolve(MEDIA_ADDR_LIVE, Json::Value(text)).bOk);
  ExpectAddress(MEDIA_ADDR_RECORDING, Json::Value(text), Ip(10, 1, 2, 3), kServerPort);
}

}  // namespace
