#pragma once
#include <json/value.h>

#include <atomic>
#include <cstdint>

#include "device/device_counters.h"
#include "device/device_properties.h"

class CMySocket;
class CUploadBurst;

// When a device's periodic messages fall due and what they carry: the
// simulated position, the GPS track row, the alarm numbers and the stamps of
// the GPS, alarm and keep-alive periods.
//
// Threads: the driver thread, from Tick (or another thread while the driver
// is held off, as CFleet::WithDevice does), except SetUploadPhase.
class CUploadSchedule {
 public:
  // Alarm numbers from seed, every period starting at now.
  void Start(uint32_t seed, uint32_t now);
  // Takes the time of this Tick (GetTickCount) and returns it.
  uint32_t Advance();
  // Follows the login as the Tick sees it: the first Tick that finds the
  // device logged in applies the phase (OnLoginSeen).
  void NoteLogin(bool bOnlineNow, int32_t nUploadInterval);
  // True when the GPS or the alarm period is due now.
  bool UploadsDue(int32_t nUploadInterval) const;
  // The due GPS upload and alarm cycle, as props asks for them, added to
  // burst; their stamps move on whether anything was sent or not.
  void AddUploads(const DeviceProperties& props, CUploadBurst& burst, DeviceCounters& counters);
  // The keep-alive when its period is due, handed to the share thread of sock.
  void SendKeepAliveIfDue(CMySocket& sock, DeviceCounters& counters);

  // Where in each period the first uploads after a login fall (0: at once).
  // The fleet spreads its devices over the period, so that devices that log
  // in together do not all upload in the same driver pass. Any thread.
  void SetUploadPhase(uint32_t ms) { nUploadPhaseMs.store(ms, std::memory_order_relaxed); }

  // What tests and benchmarks look at and set.
  uint32_t Now() const { return dwNow; }
  uint32_t LastGps() const { return dwLastGps; }
  uint32_t LastAlarm() const { return dwLastAlarm; }
  uint32_t LastKeepAlive() const { return dwLastKeepAlive; }
  void SetStamps(uint32_t gps, uint32_t alarm, uint32_t keepAlive);
  int32_t Longitude() const { return nLongitude; }
  uint32_t SpeedAlarmUid() const { return nSpeedAlarmUid; }
  uint32_t VideoLostSeq() const { return nVideoLostSeq; }
  void SetVideoLostSeq(uint32_t seq) { nVideoLostSeq = seq; }

 private:
  // With a phase, the upload and keep-alive stamps are set so that the first
  // of each falls that far into its period.
  void OnLoginSeen(int32_t nUploadInterval);
  void SendGpsUpload(Json::Value& msg, const char* timeText, CUploadBurst& burst, DeviceCounters& counters);
  // The alarm cycle's messages (alarms.cpp).
  void SendSpeedAlarm(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst, DeviceCounters& counters);
  void SendCustomAlarmPair(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst, DeviceCounters& counters);
  void SendVideoLostAlarm(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst, DeviceCounters& counters);

  // --- simulated position and alarm numbers ---
  int32_t nSpeed = 20;
  int32_t nLongitude = 1135598;
  int32_t nLatitude = 223310;
  int32_t nGpsRow = 0;
  uint32_t nSpeedAlarmUid = 0;
  uint32_t nVideoLostSeq = 0;

  // --- timers ---
  uint32_t dwNow = 0;
  uint32_t dwLastKeepAlive = 0;
  uint32_t dwLastAlarm = 0;
  uint32_t dwLastGps = 0;
  bool bLoginSeen = false;  // the login as the previous Tick saw it
  std::atomic<uint32_t> nUploadPhaseMs{0};
};
