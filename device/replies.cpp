#include "device/signal_session.h"
#include "net/reply_envelope.h"

void CSignalSession::ReplyCalendar(const Json::Value& request) {
  Json::Value reply = BuildReplyEnvelope(request, "STORM", "GETCALENDAR");
  Json::Value& resp = reply["RESPONSE"];
  resp["COUNT"] = 1;
  resp["CALENDER"].append("2016050500000000");
  SendReply(reply, 0);
}

void CSignalSession::ReplyFileList(const Json::Value& request) {
  Json::Value reply = BuildReplyEnvelope(request, "STORM", "QUERYFILELIST");
  Json::Value& resp = reply["RESPONSE"];
  resp["SENDFILECOUNT"] = 1;
  resp["LASTRECORD"] = 1;
  resp["RECORD"].append("20160505010101-20160505020101");
  resp["RECORDID"].append("filename-001");
  resp["RECORDSIZE"].append(10000000);
  resp["RECORDCHANNEL"].append(0);
  SendReply(reply, 0);
}

void CSignalSession::ReplyVersionInfo(const Json::Value& request) {
  Json::Value reply = BuildReplyEnvelope(request, "DEVEMM", "GETDEVVERSIONINFO");
  reply["RESPONSE"]["DEVINFO"]["DEVNAME"] = "NONAME";
  SendReply(reply, 0);
}
