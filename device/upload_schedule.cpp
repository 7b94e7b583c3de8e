#include "device/upload_schedule.h"

#include <cstdio>

#include "device/gps_track.h"
#include "device/upload_burst.h"
#include "net/load_counters.h"
#include "platform/local_time.h"
#include "platform/tick.h"

namespace {
constexpr int32_t kGpsPeriodMs = 10000;
constexpr int32_t kKeepAlivePeriodMs = 15000;

// "%d.%04d" of a position in 1/10000 degree.
void FormatDegrees(int32_t value, char* out, size_t size) {
  snprintf(out, size, "%d.%04d", value / 10000, value % 10000);
}

int32_t IntervalMs(int32_t nUploadInterval) {
  return static_cast<int32_t>(static_cast<uint32_t>(nUploadInterval) * 1000u);
}

// The stamp of a period that has just fired moves on by the period, so that
// a tick that came late never stretches the next period: uploads keep their
// rate however long a driver pass takes. A stamp that is still due afterwards
// (the device was away for more than a period) starts afresh at now, so that
// missed periods are never sent in a burst.
uint32_t NextStamp(uint32_t now, uint32_t stamp, int32_t period) {
  uint32_t next = stamp + static_cast<uint32_t>(period);
  return PeriodDue(now, next, period) ? now : next;
}

// At a login, a period whose stamp is stale would fire at once; with a phase
// it fires phaseMs after the login instead (then every period), so that
// devices that log in together spread their uploads over the period.
void PhaseStaleStamp(uint32_t now, uint32_t& stamp, int32_t period, uint32_t phaseMs) {
  if (period <= 0 || !PeriodDue(now, stamp, period)) return;
  // Due once the phase has passed (a period is due past its length, not at it).
  stamp = now - static_cast<uint32_t>(period) + phaseMs % static_cast<uint32_t>(period) - 1u;
}
}  // namespace

void CUploadSchedule::Start(uint32_t seed, uint32_t now) {
  nSpeedAlarmUid = seed;
  nVideoLostSeq = seed + 1000587u;
  dwNow = dwLastKeepAlive = dwLastAlarm = dwLastGps = now;
}

uint32_t CUploadSchedule::Advance() {
  dwNow = GetTickCount();
  return dwNow;
}

void CUploadSchedule::SetStamps(uint32_t gps, uint32_t alarm, uint32_t keepAlive) {
  dwLastGps = gps;
  dwLastAlarm = alarm;
  dwLastKeepAlive = keepAlive;
}

void CUploadSchedule::NoteLogin(bool bOnlineNow, int32_t nUploadInterval) {
  if (bOnlineNow && !bLoginSeen) OnLoginSeen(nUploadInterval);
  bLoginSeen = bOnlineNow;
}

void CUploadSchedule::OnLoginSeen(int32_t nUploadInterval) {
  uint32_t phase = nUploadPhaseMs.load(std::memory_order_relaxed);
  if (phase == 0) return;
  // A login right after the device was made finds its stamps fresh: they are
  // dated back so that the phase decides all the same.
  dwLastGps = dwLastAlarm = dwLastKeepAlive = dwNow - 0x40000000u;
  PhaseStaleStamp(dwNow, dwLastGps, kGpsPeriodMs, phase);
  PhaseStaleStamp(dwNow, dwLastAlarm, IntervalMs(nUploadInterval), phase);
  PhaseStaleStamp(dwNow, dwLastKeepAlive, kKeepAlivePeriodMs, phase);
}

bool CUploadSchedule::UploadsDue(int32_t nUploadInterval) const {
  return PeriodDue(dwNow, dwLastGps, kGpsPeriodMs) || PeriodDue(dwNow, dwLastAlarm, IntervalMs(nUploadInterval));
}

void CUploadSchedule::AddUploads(const DeviceProperties& props, CUploadBurst& burst, DeviceCounters& counters) {
  LocalTime now = GetLocalTime();
  // One message object per tick: members of the GPS upload carry over into
  // the alarms, and those of each alarm into the next.
  Json::Value msg;
  msg["SESSION"] = "";
  if (PeriodDue(dwNow, dwLastGps, kGpsPeriodMs)) {
    if (props.bGps == 1) {
      char timeText[16];
      FormatTimeText(now, timeText, sizeof timeText);
      SendGpsUpload(msg, timeText, burst, counters);
    }
    dwLastGps = NextStamp(dwNow, dwLastGps, kGpsPeriodMs);
  }
  int32_t interval = IntervalMs(props.nUploadInterval);
  if (PeriodDue(dwNow, dwLastAlarm, interval)) {
    int64_t alarmTime = LocalTimeToEpoch(now);
    if (props.bAutoUpload == 1) {
      if (props.bSpeedAlarm == 1) SendSpeedAlarm(msg, alarmTime, burst, counters);
      if (props.bCustomAlarm == 1) SendCustomAlarmPair(msg, alarmTime, burst, counters);
      SendVideoLostAlarm(msg, alarmTime, burst, counters);
    }
    dwLastAlarm = NextStamp(dwNow, dwLastAlarm, interval);
  }
}

void CUploadSchedule::SendKeepAliveIfDue(CMySocket& sock, DeviceCounters& counters) {
  if (!PeriodDue(dwNow, dwLastKeepAlive, kKeepAlivePeriodMs)) return;
  Json::Value keepAlive;
  keepAlive["SESSION"] = "";
  keepAlive["MODULE"] = "CERTIFICATE";
  keepAlive["OPERATION"] = "KEEPALIVE";
  CUploadBurst burst(sock);  // handed to the share thread like the uploads
  burst.Add(keepAlive, 0, MSG_KEEPALIVE, &counters.nKeepAlivesSent);
  burst.Send();
  dwLastKeepAlive = NextStamp(dwNow, dwLastKeepAlive, kKeepAlivePeriodMs);
}

void CUploadSchedule::SendGpsUpload(Json::Value& msg, const char* timeText, CUploadBurst& burst,
                                    DeviceCounters& counters) {
  nSpeed += 2;
  if (nSpeed > 140) nSpeed = 0;
  nLongitude += 5;
  nLatitude += 2;
  if (nLongitude > 1200000) nLongitude = 1100000;
  if (nLatitude > 300000) nLatitude = 200000;

  char lon[24];
  char lat[24];
  const CGpsTrack& track = GlobalGpsTrack();
  int32_t rows = track.Count();
  if (rows > 0) {
    if (nGpsRow < 0 || nGpsRow >= rows) nGpsRow = 0;
    snprintf(lon, sizeof lon, "%s", track.Point(nGpsRow).szLongitude);
    snprintf(lat, sizeof lat, "%s", track.Point(nGpsRow).szLatitude);
  } else {
    FormatDegrees(nLongitude, lon, sizeof lon);
    FormatDegrees(nLatitude, lat, sizeof lat);
  }
  msg["MODULE"] = "DEVEMM";
  msg["OPERATION"] = "SPI";
  Json::Value& par = msg["PARAMETER"];
  par["M"] = 1;
  Json::Value& p = par["P"];
  p["V"] = 0;
  p["J"] = lon;
  p["W"] = lat;
  p["S"] = nSpeed * 100;
  p["C"] = 5050;
  p["T"] = timeText;
  burst.Add(msg, 1, MSG_GPS, &counters.nGpsSent);
  if (rows > 0) nGpsRow = (nGpsRow + 1) % rows;
}
