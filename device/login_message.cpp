#include "device/login_message.h"

Json::Value BuildLoginMessage(const char* szId) {
  Json::Value msg;
  msg["SESSION"] = "";
  msg["MODULE"] = "CERTIFICATE";
  msg["OPERATION"] = "CONNECT";
  Json::Value& par = msg["PARAMETER"];
  par["DSNO"] = szId;
  par["CARNUM"] = szId;
  par["CHANNEL"] = 16;
  par["DEVCLASS"] = 4;
  return msg;
}
