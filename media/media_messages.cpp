#include "media/media_messages.h"

#include <cstring>
#include <string>

#include "media/stream_slot.h"
#include "net/json_read.h"
#include "net/reply_envelope.h"

bool ReadStreamName(const Json::Value& request, char* out) {
  std::string name;
  if (!JsonString(JsonMember(JsonMember(request, "PARAMETER"), "STREAMNAME"), &name)) return false;
  if (name.size() >= static_cast<size_t>(STREAM_NAME_SIZE) || name.find('\0') != std::string::npos) return false;
  memcpy(out, name.c_str(), name.size() + 1);
  return true;
}

Json::Value BuildMediaReply(const Json::Value& request, const char* op, const char* szStreamName, bool bSession,
                            int32_t nFileSize) {
  Json::Value reply = BuildReplyEnvelope(request, "MEDIASTREAMMODEL", op);
  if (!bSession) reply.removeMember("SESSION");
  Json::Value& response = reply["RESPONSE"];
  response["STREAMNAME"] = szStreamName;
  if (nFileSize > 0) response["FILESIZE"] = nFileSize;
  return reply;
}

Json::Value BuildCreateStream(const char* szStreamName) {
  Json::Value msg;
  msg["SESSION"] = "";
  msg["MODULE"] = "CERTIFICATE";
  msg["OPERATION"] = "CREATESTREAM";
  msg["PARAMETER"]["STREAMNAME"] = szStreamName;
  return msg;
}
