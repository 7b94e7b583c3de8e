// The reply envelope both the device and the test server wrap their replies
// in: the request's SERIAL is copied with its own type, or null when absent.
#include <gtest/gtest.h>

#include "net/json_writer.h"
#include "net/reply_envelope.h"

TEST(ReplyEnvelope, CopiesTheSerialOrCarriesNull) {
  Json::Value msg;
  msg["PARAMETER"]["SERIAL"] = "abc";
  EXPECT_EQ(WriteCompactJson(BuildReplyEnvelope(msg, "EVEM", "SENDALARMINFO")),
            "{\"MODULE\":\"EVEM\",\"OPERATION\":\"SENDALARMINFO\",\"RESPONSE\":{\"ERRORCODE\":0,\"SERIAL\":\"abc\"},"
            "\"SESSION\":\"\"}");
  Json::Value none;
  none["OPERATION"] = "CONNECT";
  EXPECT_EQ(WriteCompactJson(BuildReplyEnvelope(none, "CERTIFICATE", "CONNECT")),
            "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CONNECT\",\"RESPONSE\":{\"ERRORCODE\":0,\"SERIAL\":null},"
            "\"SESSION\":\"\"}");
  Json::Value odd;
  odd["PARAMETER"] = Json::Value(Json::arrayValue);  // no object to read SERIAL from: null, no throw
  odd["PARAMETER"].append(1);
  EXPECT_EQ(BuildReplyEnvelope(odd, "A", "B")["RESPONSE"]["SERIAL"], Json::Value());
}
