// The quiet debug channel keeps the failure lines and drops the rest, message
// texts included, without changing a word of what it keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "tests/support/debug_capture.h"

namespace {

TEST(DebugQuietFilter, KeepsFailureLinesWordForWordAndDropsTheRest) {
  DebugCapture capture;
  SetDebugQuiet(true);
  const std::vector<std::string> kept = {
      "dev - send data failed.",           "dev - register address error.",
      "dev - resource not enough",         "invalid video data.",
      "CMysocket - not found valid node.", "CMySocket - buffer full, close socket!!!!!",
      "CMySocket - wait thread exit failed!", "dev - stream name too long.",
      "dev - stream s12 never started, slot reset.",
  };
  for (const std::string& line : kept) OutputDebugLine(line);
  DebugPrintf("napi - data length error, data len = %d", 70000);
  for (const char* line : {"dev - CDevQ5::ConnectReg", "CMySocket - share thread start.", "dev - open file ok.",
                           "CMySocket - buffer small, realloc memory, size = 9000", "send",
                           "{\"MODULE\":\"CERTIFICATE\",\"RESPONSE\":{\"ERRORCODE\":0,\"ERRORCAUSE\":\"error\"}}"})
    OutputDebugLine(line);
  SetDebugQuiet(false);
  OutputDebugLine("dev - real thread start.");

  std::vector<std::string> want = kept;
  want.push_back("napi - data length error, data len = 70000");
  want.push_back("dev - real thread start.");
  EXPECT_EQ(capture.Lines(), want);
}

}  // namespace
