#pragma once
#include <cstdint>

// The seven per-device behaviour values that the PROPERTY dialog edits and
// list.txt stores (keys UP, FREQ, GPS, AD, AS, AT, REALCLOSE).
struct DeviceProperties {
  int32_t bAutoUpload = 0;      // "UP": periodic alarms on
  int32_t nUploadInterval = 10; // "FREQ": seconds between alarm cycles
  int32_t bGps = 0;             // "GPS": GPS upload on
  int32_t bCustomAlarm = 1;     // "AD": customised alarm pair on
  int32_t bSpeedAlarm = 1;      // "AS": speed alarm on
  int32_t nAutoOffline = 0;     // "AT": seconds online before a forced disconnect, 0 = never
  int32_t nLiveViewOff = 0;     // "REALCLOSE": seconds a live view runs, 0 = never

  bool operator==(const DeviceProperties&) const = default;

  // The values a new device starts with.
  static DeviceProperties NewDevice() { return DeviceProperties{}; }
  // The values the PROPERTY dialog shows when no device is selected.
  static DeviceProperties DialogDefaults() {
    DeviceProperties p;
    p.bCustomAlarm = 0;
    p.bSpeedAlarm = 0;
    return p;
  }
};
