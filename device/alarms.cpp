#include "device/dev_q5.h"
#include "device/upload_burst.h"
#include "device/upload_schedule.h"
#include "net/load_counters.h"
#include "platform/local_time.h"

namespace {
Json::Value& AlarmParameter(Json::Value& msg) {
  msg["MODULE"] = "EVEM";
  msg["OPERATION"] = "SENDALARMINFO";
  return msg["PARAMETER"];
}
}  // namespace

void CUploadSchedule::SendSpeedAlarm(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst,
                                     DeviceCounters& counters) {
  Json::Value& par = AlarmParameter(msg);
  par["ALARMTYPE"] = 8;
  par["CMDTYPE"] = 1;
  par["ALARMUID"] = Json::UInt(nSpeedAlarmUid);
  par["CURRENTTIME"] = Json::Int64(alarmTime);
  par["CSP"] = 12000;
  par["ATYPE"] = 1;
  par["ALARMNAME"] = "TOO FAST";
  par["RUN"] = 1;
  ++nSpeedAlarmUid;
  burst.Add(msg, 1, MSG_ALARM, &counters.nAlarmsSent);
}

void CUploadSchedule::SendCustomAlarmPair(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst,
                                          DeviceCounters& counters) {
  Json::Value& par = AlarmParameter(msg);
  par["ALARMTYPE"] = 4;
  par["CONTINUETIME"] = 10;
  par["CURRENTTIME"] = Json::Int64(alarmTime);
  par["SNO"] = 2;
  par["ALARMNAME"] = "SOS";
  par["RUN"] = 1;
  par["ALARMUID"] = Json::UInt(counters.nSosUid.load());
  par["CMDTYPE"] = 1;
  // The number moves on only when the start was accepted, so a start that
  // could not be sent is tried again with the same number next cycle.
  burst.Add(msg, 0, MSG_ALARM, &counters.nAlarmsSent, &counters.nSosUid);
  par["CMDTYPE"] = 0;
  burst.Add(msg, 0, MSG_ALARM, &counters.nAlarmsSent);
}

void CUploadSchedule::SendVideoLostAlarm(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst,
                                         DeviceCounters& counters) {
  Json::Value& par = AlarmParameter(msg);
  bool start = (nVideoLostSeq & 1u) != 0;
  par["ALARMTYPE"] = 0;
  par["CONTINUETIME"] = 10;
  par["CURRENTTIME"] = Json::Int64(alarmTime);
  par["CHANNEL"] = 4;
  par["ALARMNAME"] = "VIDEO LOST";
  par["RUN"] = 1;
  par["ALARMUID"] = Json::UInt(start ? nVideoLostSeq : nVideoLostSeq - 1u);
  par["CMDTYPE"] = start ? 1 : 0;
  ++nVideoLostSeq;
  burst.Add(msg, 0, MSG_ALARM, &counters.nAlarmsSent);
}

int CDevQ5::UploadEmergencyAlarm() {
  int64_t alarmTime = LocalTimeToEpoch(GetLocalTime());
  Json::Value msg;
  msg["SESSION"] = "";
  Json::Value& par = AlarmParameter(msg);
  par["ALARMTYPE"] = 7;
  par["CMDTYPE"] = 1;
  par["ALARMUID"] = EmergencyAlarmCounter().fetch_add(1);
  par["CONTINUETIME"] = 10;
  par["CURRENTTIME"] = Json::Int64(alarmTime);
  par["ALARMNAME"] = "110";
  if (!SendSignalPacket(msg, 2000, 0)) return 1;
  counters.nAlarmsSent.fetch_add(1);
  CountMessage(MSG_ALARM);
  return 0;
}
