#include "device/signal_session.h"
#include "net/json_read.h"

namespace {

// A reply's envelope: the request's operation, RESPONSE with ERRORCODE 0 and
// the request's PARAMETER/SERIAL copied with whatever type it had (null when
// absent).
Json::Value ReplyEnvelope(const Json::Value& request, const char* module, const char* operation) {
  Json::Value reply;
  reply["SESSION"] = "";
  reply["MODULE"] = module;
  reply["OPERATION"] = operation;
  Json::Value& resp = reply["RESPONSE"];
  resp["ERRORCODE"] = 0;
  resp["SERIAL"] = JsonMember(JsonMember(request, "PARAMETER"), "SERIAL");
  return reply;
}

}  // namespace

void CSignalSession::ReplyCalendar(const Json::Value& request) {
  Json::Value reply = ReplyEnvelope(request, "STORM", "GETCALENDAR");
  Json::Value& resp = reply["RESPONSE"];
  resp["COUNT"] = 1;
  resp["CALENDER"].append("2016050500000000");
  SendReply(reply, 0);
}

void CSignalSession::ReplyFileList(const Json::Value& request) {
  Json::Value reply = ReplyEnvelope(request, "STORM", "QUERYFILELIST");
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
  Json::Value reply = ReplyEnvelope(request, "DEVEMM", "GETDEVVERSIONINFO");
  reply["RESPONSE"]["DEVINFO"]["DEVNAME"] = "NONAME";
  SendReply(reply, 0);
}
