#include "net/reply_envelope.h"

#include "net/json_read.h"

Json::Value BuildReplyEnvelope(const Json::Value& message, const char* szModule, const char* szOperation) {
  Json::Value reply(Json::objectValue);
  reply["SESSION"] = "";
  reply["MODULE"] = szModule;
  reply["OPERATION"] = szOperation;
  Json::Value& resp = reply["RESPONSE"];
  resp["ERRORCODE"] = 0;
  resp["SERIAL"] = JsonMember(JsonMember(message, "PARAMETER"), "SERIAL");
  return reply;
}
