// Reals at the top of the double range: sixteen digits round them up past the
// largest double, and a reader refuses such a text (a settings file holding
// one would lose every member behind it on the next start). Found by the
// json_writer fuzz target.
#include <gtest/gtest.h>
#include <json/value.h>

#include <cfloat>
#include <cstdlib>
#include <string>

#include "net/json_read.h"
#include "net/json_writer.h"

namespace {

TEST(JsonWriterLargestReal, LargestRealsReadBackExactly) {
  for (double v : {DBL_MAX, -DBL_MAX, 1.7976931348623155e308, -1.7976931348623156e308}) {
    const std::string text = FormatJsonReal(v);
    EXPECT_EQ(strtod(text.c_str(), nullptr), v) << text;
  }
  EXPECT_EQ(FormatJsonReal(DBL_MAX), "1.7976931348623157e+308");
}

TEST(JsonWriterLargestReal, OtherRealsKeepSixteenDigits) {
  EXPECT_EQ(FormatJsonReal(1e308), "1.000000000000000e+308");
  EXPECT_EQ(FormatJsonReal(1.7976931348623e308), "1.797693134862300e+308");
  EXPECT_EQ(FormatJsonReal(2.5), "2.50");
}

TEST(JsonWriterLargestReal, WrittenTextParsesWithEveryMember) {
  const std::string input = "{\"A\":1.7976931348623157e308,\"REG\":\"1.2.3.4:5\",\"VF\":\"x\"}";
  Json::Value v;
  ASSERT_TRUE(JsonParse(input.data(), input.data() + input.size(), v));
  const std::string text = WriteCompactJson(v);
  Json::Value again;
  ASSERT_TRUE(JsonParse(text.data(), text.data() + text.size(), again)) << text;
  EXPECT_EQ(JsonText(JsonMember(again, "REG")), "1.2.3.4:5");
  EXPECT_EQ(JsonText(JsonMember(again, "VF")), "x");
  EXPECT_EQ(JsonMember(again, "A").asDouble(), DBL_MAX);
}

}  // namespace
