#include "app/ui/send_sample.h"

#include <json/value.h>

#include "net/json_writer.h"

std::string BuildSendSample(const LocalTime& now) {
  char timeText[16];
  FormatTimeText(now, timeText, sizeof timeText);
  Json::Value msg(Json::objectValue);
  msg["SESSION"] = "";
  msg["MODULE"] = "DEVEMM";
  msg["OPERATION"] = "SPI";
  Json::Value& param = msg["PARAMETER"];
  param["M"] = 1;
  Json::Value& pos = param["P"];
  pos["V"] = 0;
  pos["J"] = "115.5598";
  pos["W"] = "25.3310";
  pos["S"] = 9050;
  pos["C"] = 7050;
  pos["T"] = timeText;
  return WriteCompactJson(msg);
}
