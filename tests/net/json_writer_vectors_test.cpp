#include <gtest/gtest.h>
#include <json/value.h>

#include "net/json_read.h"
#include "net/json_writer.h"

namespace {

TEST(JsonWriterTest, ObjectMembersComeInByteOrderWithoutBlanksOrLineFeed) {
  Json::Value v;
  v["SESSION"] = "";
  v["PARAMETER"]["b"] = 1;
  v["PARAMETER"]["_"] = 2;
  v["PARAMETER"]["B"] = 3;
  v["MODULE"] = "CERTIFICATE";
  v["OPERATION"] = "KEEPALIVE";
  EXPECT_EQ(WriteCompactJson(v),
            "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"KEEPALIVE\",\"PARAMETER\":{\"B\":3,\"_\":2,\"b\":1},"
            "\"SESSION\":\"\"}");
}

TEST(JsonWriterTest, KeepAliveTextIs61Bytes) {
  Json::Value v;
  v["SESSION"] = "";
  v["MODULE"] = "CERTIFICATE";
  v["OPERATION"] = "KEEPALIVE";
  EXPECT_EQ(WriteCompactJson(v).size(), 61u);
}

TEST(JsonWriterTest, RealsKeepOneTrailingZero) {
  EXPECT_EQ(FormatJsonReal(2.5), "2.50");
  EXPECT_EQ(FormatJsonReal(3.0), "3.0");
  EXPECT_EQ(FormatJsonReal(25.331), "25.3310");
  EXPECT_EQ(FormatJsonReal(-0.125), "-0.1250");
  EXPECT_EQ(FormatJsonReal(1e20), "1.000000000000000e+20");
  EXPECT_EQ(FormatJsonReal(123456789012345678.0), "1.234567890123457e+17");
  Json::Value v;
  v["x"] = 2.5;
  EXPECT_EQ(WriteCompactJson(v), "{\"x\":2.50}");
}

TEST(JsonWriterTest, UnsignedAndLargeIntegersAreNeverNegative) {
  Json::Value v;
  v.append(Json::UInt(2147483648u));
  v.append(Json::UInt(4294967295u));
  v.append(Json::UInt64(18446744073709551615ull));
  v.append(Json::Int(-2147483647 - 1));
  v.append(Json::Int64(-5));
  EXPECT_EQ(WriteCompactJson(v), "[2147483648,4294967295,18446744073709551615,-2147483648,-5]");
}

TEST(JsonWriterTest, StringsEscapeOnlyQuoteBackslashAndControls) {
  Json::Value v(std::string("a\"b\\c/d\x01\x1f\n\r\t\b\f\x7f") + "\xc3\xa9" + "\xe5\x90\x88");
  EXPECT_EQ(WriteCompactJson(v),
            "\"a\\\"b\\\\c/d\\u0001\\u001f\\n\\r\\t\\b\\f\x7f\xc3\xa9\xe5\x90\x88\"");
  Json::Value withNul(std::string("a\0b", 3));
  EXPECT_EQ(WriteCompactJson(withNul), "\"a\\u0000b\"");
}

TEST(JsonWriterTest, ScalarsArraysAndEmptyContainers) {
  Json::Value v;
  v["n"] = Json::Value();
  v["t"] = true;
  v["f"] = false;
  v["a"] = Json::Value(Json::arrayValue);
  v["o"] = Json::Value(Json::objectValue);
  v["l"].append(1);
  v["l"].append("x");
  EXPECT_EQ(WriteCompactJson(v), "{\"a\":[],\"f\":false,\"l\":[1,\"x\"],\"n\":null,\"o\":{},\"t\":true}");
  EXPECT_EQ(WriteCompactJson(Json::Value()), "null");
}

TEST(JsonWriterTest, ParsedTextRoundTripsByteForByte) {
  const std::string text =
      "{\"MODULE\":\"STORM\",\"OPERATION\":\"GETCALENDAR\",\"RESPONSE\":{\"CALENDER\":[\"2016050500000000\"],"
      "\"COUNT\":1,\"ERRORCODE\":0,\"SERIAL\":7},\"SESSION\":\"\"}";
  Json::Value v;
  ASSERT_TRUE(JsonParse(text.data(), text.data() + text.size(), v));
  EXPECT_EQ(WriteCompactJson(v), text);
}

TEST(JsonReadTest, ConversionsNeverThrow) {
  Json::Value v;
  const char* t = "{\"s\":\"12\",\"t\":true,\"f\":false,\"r\":2.9,\"n\":-2.9,\"a\":[1],\"o\":{},\"big\":1e30,"
                  "\"u\":4294967295,\"i\":7}";
  ASSERT_TRUE(JsonParse(t, t + strlen(t), v));
  EXPECT_EQ(JsonInt(JsonMember(v, "s")), 0);
  EXPECT_EQ(JsonInt(JsonMember(v, "t")), 1);
  EXPECT_EQ(JsonInt(JsonMember(v, "f")), 0);
  EXPECT_EQ(JsonInt(JsonMember(v, "r")), 2);
  EXPECT_EQ(JsonInt(JsonMember(v, "n")), -2);
  EXPECT_EQ(JsonInt(JsonMember(v, "a")), 0);
  EXPECT_EQ(JsonInt(JsonMember(v, "o")), 0);
  EXPECT_EQ(JsonInt(JsonMember(v, "missing")), 0);
  EXPECT_EQ(JsonInt(JsonMember(v, "big")), INT32_MAX);
  EXPECT_EQ(JsonInt(JsonMember(v, "u")), -1);
  EXPECT_EQ(JsonInt(JsonMember(v, "i")), 7);
  // Member access on non-objects gives null instead of throwing.
  EXPECT_TRUE(JsonMember(JsonMember(v, "a"), "x").isNull());
  EXPECT_TRUE(JsonMember(Json::Value(5), "x").isNull());
  EXPECT_FALSE(JsonIsString(JsonMember(v, "i"), "7"));
  EXPECT_TRUE(JsonIsString(JsonMember(v, "s"), "12"));
  EXPECT_FALSE(JsonIsString(JsonMember(v, "s"), "1"));
}

TEST(JsonReadTest, PartialAndHostileTextsKeepWhatWasParsed) {
  Json::Value v;
  const char* t = "{\"OPERATION\":\"CONNECT\" garbage";
  EXPECT_FALSE(JsonParse(t, t + strlen(t), v));
  EXPECT_TRUE(JsonIsString(JsonMember(v, "OPERATION"), "CONNECT"));
  // Nesting deeper than the reader's limit makes it throw internally.
  std::string deep(5000, '[');
  Json::Value d;
  EXPECT_FALSE(JsonParse(deep.data(), deep.data() + deep.size(), d));
}

}  // namespace
