#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/server/server_stats.h"

// The last position a device uploaded (GPS "SPI", PARAMETER / P).
struct GpsFix {
  std::string szJ;  // longitude text
  std::string szW;  // latitude text
  int32_t nS = 0;   // speed
  std::string szT;  // device time, 14 digits
};

// What the server knows of one device number. Records stay after the device
// disconnects, so a reconnect continues its counts.
struct DeviceRecord {
  std::string szId;
  uint64_t nConnId = 0;      // its open signalling connection, 0 when none
  std::string szPeer;        // address of that connection
  bool bLoggedIn = false;    // the login on that connection was answered
  int64_t nLoginTime = 0;    // wall-clock seconds of the last CONNECT
  uint32_t nLoginAttempts = 0;
  uint32_t nLogins = 0;      // answered logins
  uint64_t nKeepAlives = 0;
  uint64_t nGps = 0;
  GpsFix lastFix;
  AlarmCounts alarms;
};

// Devices by DSNO. Record addresses stay valid for the registry's life (the
// connections keep pointers to them). Loop thread only.
class CDeviceRegistry {
 public:
  // The record of id, created on first use.
  DeviceRecord& Get(const std::string& id);
  DeviceRecord* Find(const std::string& id);
  const DeviceRecord* Find(const std::string& id) const;
  size_t Size() const { return devices.size(); }
  size_t LoggedIn() const { return nLoggedIn; }
  // Changes bLoggedIn and keeps the logged-in count.
  void SetLoggedIn(DeviceRecord& rec, bool bLoggedIn);
  // Every record, by device number.
  std::vector<const DeviceRecord*> Sorted() const;

 private:
  std::unordered_map<std::string, DeviceRecord> devices;
  size_t nLoggedIn = 0;
};

// Reads PARAMETER / P of a GPS upload; members missing or of another type read empty or 0.
GpsFix ReadGpsFix(const Json::Value& message);
// PARAMETER / ALARMTYPE of an alarm, ALARM_TYPE_NONE when it is not a number.
int32_t ReadAlarmType(const Json::Value& message);
// One line: id, state, peer, login time, counts, last position, alarms.
std::string FormatDevice(const DeviceRecord& rec);
