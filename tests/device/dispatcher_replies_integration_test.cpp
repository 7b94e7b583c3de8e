#include "tests/device/device_test_util.h"
#include "tests/support/debug_capture.h"

namespace {

// Sends text to the device and returns the text of the reply to op.
std::string ReplyTo(CTestServer& srv, const char* dsno, const std::string& text, const std::string& op) {
  int32_t conn = srv.FindDeviceConnection(dsno);
  int32_t before = srv.OperationCount(conn, op);
  EXPECT_TRUE(srv.SendJsonText(conn, text));
  EXPECT_TRUE(srv.WaitForOperation(conn, op, before + 1, 5000));
  auto replies = MessagesOf(srv, dsno, op);
  return replies.empty() ? std::string() : replies.back().szText;
}

TEST(DispatcherRepliesTest, CalendarEchoesSerialOfEveryType) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "CAL-1");
  const std::string head = "{\"MODULE\":\"STORM\",\"OPERATION\":\"GETCALENDAR\",\"RESPONSE\":{\"CALENDER\":"
                           "[\"2016050500000000\"],\"COUNT\":1,\"ERRORCODE\":0,\"SERIAL\":";
  const std::string tail = "},\"SESSION\":\"\"}";
  EXPECT_EQ(ReplyTo(srv, "CAL-1", "{\"OPERATION\":\"GETCALENDAR\",\"PARAMETER\":{\"SERIAL\":\"abc\",\"MONTH\":3}}",
                    "GETCALENDAR"),
            head + "\"abc\"" + tail);
  EXPECT_EQ(ReplyTo(srv, "CAL-1", "{\"OPERATION\":\"GETCALENDAR\",\"PARAMETER\":{\"SERIAL\":12}}", "GETCALENDAR"),
            head + "12" + tail);
  EXPECT_EQ(ReplyTo(srv, "CAL-1", "{\"OPERATION\":\"GETCALENDAR\",\"PARAMETER\":{\"SERIAL\":2.5}}", "GETCALENDAR"),
            head + "2.50" + tail);
  EXPECT_EQ(ReplyTo(srv, "CAL-1", "{\"OPERATION\":\"GETCALENDAR\"}", "GETCALENDAR"), head + "null" + tail);
  EXPECT_EQ(ReplyTo(srv, "CAL-1", "{\"OPERATION\":\"GETCALENDAR\",\"PARAMETER\":{\"SERIAL\":{\"a\":[1]}}}",
                    "GETCALENDAR"),
            head + "{\"a\":[1]}" + tail);
  dev->Shutdown();
}

TEST(DispatcherRepliesTest, FileListAndVersionRepliesAreFixed) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "FL-1");
  EXPECT_EQ(ReplyTo(srv, "FL-1", "{\"OPERATION\":\"QUERYFILELIST\",\"PARAMETER\":{\"SERIAL\":3,\"CHANNEL\":9}}",
                    "QUERYFILELIST"),
            "{\"MODULE\":\"STORM\",\"OPERATION\":\"QUERYFILELIST\",\"RESPONSE\":{\"ERRORCODE\":0,\"LASTRECORD\":1,"
            "\"RECORD\":[\"20160505010101-20160505020101\"],\"RECORDCHANNEL\":[0],\"RECORDID\":[\"filename-001\"],"
            "\"RECORDSIZE\":[10000000],\"SENDFILECOUNT\":1,\"SERIAL\":3},\"SESSION\":\"\"}");
  EXPECT_EQ(ReplyTo(srv, "FL-1", "{\"MODULE\":\"X\",\"OPERATION\":\"GETDEVVERSIONINFO\",\"PARAMETER\":{}}",
                    "GETDEVVERSIONINFO"),
            "{\"MODULE\":\"DEVEMM\",\"OPERATION\":\"GETDEVVERSIONINFO\",\"RESPONSE\":{\"DEVINFO\":{\"DEVNAME\":"
            "\"NONAME\"},\"ERRORCODE\":0,\"SERIAL\":null},\"SESSION\":\"\"}");
  dev->Shutdown();
}

TEST(DispatcherRepliesTest, UnknownAndKeepAliveMessagesGetNoReply) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  DebugCapture capture;
  auto dev = LoggedInDevice(srv, "QUIET-1");
  int32_t conn = srv.FindDeviceConnection("QUIET-1");
  const std::string keepAlive = "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"KEEPALIVE\",\"SESSION\":\"\"}";
  const std::string lower = "{\"OPERATION\":\"connect\"}";
  const std::string create = "{\"OPERATION\":\"CREATESTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"x\"}}";
  const std::string number = "{\"OPERATION\":1}";
  for (const auto& t : {keepAlive, lower, create, number}) srv.SendJsonText(conn, t);
  // A calendar request afterwards marks that all of them were handled.
  srv.SendJsonText(conn, "{\"OPERATION\":\"GETCALENDAR\"}");
  ASSERT_TRUE(srv.WaitForOperation(conn, "GETCALENDAR", 1, 5000));
  EXPECT_EQ(capture.Count(keepAlive), 0);
  EXPECT_EQ(capture.Count(lower), 1);
  EXPECT_EQ(capture.Count(create), 1);
  EXPECT_EQ(capture.Count(number), 1);
  auto ops = srv.Operations(conn);
  EXPECT_EQ(ops, (std::vector<std::string>{"CONNECT", "GETCALENDAR"}));
  dev->Shutdown();
}

}  // namespace
