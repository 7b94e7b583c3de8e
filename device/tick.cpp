#include <cstdio>

#include "device/dev_q5.h"
#include "device/gps_track.h"
#include "device/upload_burst.h"
#include "net/load_counters.h"
#include "platform/local_time.h"
#include "platform/tick.h"

namespace {
constexpr int32_t kGpsPeriodMs = 10000;
constexpr int32_t kKeepAlivePeriodMs = 15000;
constexpr int32_t kReconnectPeriodMs = 15000;

// "%d.%04d" of a position in 1/10000 degree.
void FormatDegrees(int32_t value, char* out, size_t size) {
  snprintf(out, size, "%d.%04d", value / 10000, value % 10000);
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

void CDevQ5::OnLoginSeen() {
  uint32_t phase = nUploadPhaseMs.load();
  if (phase == 0) return;
  // A login right after the device was made finds its stamps fresh: they are
  // dated back so that the phase decides all the same.
  dwLastGps = dwLastAlarm = dwLastKeepAlive = dwNow - 0x40000000u;
  int32_t interval = static_cast<int32_t>(static_cast<uint32_t>(nUploadInterval.load()) * 1000u);
  PhaseStaleStamp(dwNow, dwLastGps, kGpsPeriodMs, phase);
  PhaseStaleStamp(dwNow, dwLastAlarm, interval, phase);
  PhaseStaleStamp(dwNow, dwLastKeepAlive, kKeepAlivePeriodMs, phase);
}

void CDevQ5::Tick() {
  dwNow = GetTickCount();
  // Automatic offline: the connection is closed silently; reconnection follows.
  int32_t autoOffline = nAutoOffline.load();
  if (autoOffline != 0 && bOnline.load() &&
      PeriodDue(dwNow, dwLoginTime.load(), static_cast<int32_t>(static_cast<uint32_t>(autoOffline) * 1000u))) {
    CloseSignal();
    bOnline.store(0);
    dwLastConnect.store(dwNow);
  }
  bool bOnlineNow = bOnline.load() != 0;
  if (bOnlineNow && !bLoginSeen) OnLoginSeen();
  bLoginSeen = bOnlineNow;
  // Most Ticks find nothing due: the message object is made only when needed.
  if (bOnline.load() && (PeriodDue(dwNow, dwLastGps, kGpsPeriodMs) || AlarmPeriodDue())) {
    LocalTime now = GetLocalTime();
    // One message object per tick: members of the GPS upload carry over into
    // the alarms, and those of each alarm into the next.
    Json::Value msg;
    msg["SESSION"] = "";
    // The messages of one Tick leave together, in one send.
    CUploadBurst burst(sigSocket);
    if (PeriodDue(dwNow, dwLastGps, kGpsPeriodMs)) {
      if (bGps.load() == 1) {
        char timeText[16];
        FormatTimeText(now, timeText, sizeof timeText);
        SendGpsUpload(msg, timeText, burst);
      }
      dwLastGps = NextStamp(dwNow, dwLastGps, kGpsPeriodMs);
    }
    int32_t interval = static_cast<int32_t>(static_cast<uint32_t>(nUploadInterval.load()) * 1000u);
    if (PeriodDue(dwNow, dwLastAlarm, interval)) {
      int64_t alarmTime = LocalTimeToEpoch(now);
      if (bAutoUpload.load() == 1) {
        if (bSpeedAlarm.load() == 1) SendSpeedAlarm(msg, alarmTime, burst);
        if (bCustomAlarm.load() == 1) SendCustomAlarmPair(msg, alarmTime, burst);
        SendVideoLostAlarm(msg, alarmTime, burst);
      }
      dwLastAlarm = NextStamp(dwNow, dwLastAlarm, interval);
    }
    burst.Send();
  }
  if (pStreams) pStreams->Reap();
  if (!bWantOnline.load()) return;
  if (bOnline.load()) {
    if (PeriodDue(dwNow, dwLastKeepAlive, kKeepAlivePeriodMs)) {
      Json::Value keepAlive;
      keepAlive["SESSION"] = "";
      keepAlive["MODULE"] = "CERTIFICATE";
      keepAlive["OPERATION"] = "KEEPALIVE";
      CUploadBurst burst(sigSocket);  // handed to the share thread like the uploads
      burst.Add(keepAlive, 0, MSG_KEEPALIVE, &nKeepAlivesSent);
      burst.Send();
      dwLastKeepAlive = NextStamp(dwNow, dwLastKeepAlive, kKeepAlivePeriodMs);
    }
    return;
  }
  if (PeriodDue(dwNow, dwLastConnect.load(), kReconnectPeriodMs)) {
    CountAbandonedAttempt();
    CloseSignal();
    RefreshServerAddress();
    ConnectReg();
  }
}

// The device gives up on the connection it holds: one that never came up
// timed out (a refused one was counted when it failed), one that came up
// without a login answer went unanswered.
void CDevQ5::CountAbandonedAttempt() {
  if (!sigSocket.IsOpen()) return;
  if (sigSocket.IsConnected()) {
    CountFailure(FAIL_LOGIN_UNANSWERED);
  } else if (!sigSocket.ConnectFailed()) {
    CountFailure(FAIL_CONNECT_TIMEOUT);
  }
}

bool CDevQ5::AlarmPeriodDue() const {
  int32_t interval = static_cast<int32_t>(static_cast<uint32_t>(nUploadInterval.load()) * 1000u);
  return PeriodDue(dwNow, dwLastAlarm, interval);
}

void CDevQ5::SendGpsUpload(Json::Value& msg, const char* timeText, CUploadBurst& burst) {
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
  burst.Add(msg, 1, MSG_GPS, &nGpsSent);
  if (rows > 0) nGpsRow = (nGpsRow + 1) % rows;
}
