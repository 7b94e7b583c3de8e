#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "net/stats_report.h"

// Alarm counts by ALARMTYPE; ALARM_TYPE_NONE counts alarms without a numeric type.
using AlarmCounts = std::map<int32_t, uint64_t>;
constexpr int32_t ALARM_TYPE_NONE = -1;

// The server's counters. The first four are levels (what is open now), the
// rest totals since the start.
struct ServerStats {
  uint64_t nConnections = 0;  // open connections
  uint64_t nDevices = 0;      // device numbers seen in a CONNECT
  uint64_t nLoggedIn = 0;     // devices with an answered login on an open connection
  uint64_t nStreams = 0;      // open media connections
  uint64_t nStreamsAnswered = 0;  // CREATESTREAM answered: streams started
  uint64_t nAccepted = 0;
  uint64_t nLoginAttempts = 0;
  uint64_t nKeepAlives = 0;
  uint64_t nGps = 0;
  AlarmCounts alarms;
  uint64_t nMediaPackets = 0;
  uint64_t nMediaBytes = 0;
  uint64_t nPacketsIn = 0;
  uint64_t nBytesIn = 0;
  uint64_t nMalformed = 0;
  uint64_t nReplies = 0;  // replies matched to a request by SERIAL
  uint64_t nStreamsRefused = 0;  // CREATESTREAM naming a stream that was not requested
  uint64_t nIdleClosed = 0;      // closed for not completing a packet in the idle time
  uint64_t nHeldOverLimit = 0;   // closed because unfinished packets passed the memory bound
  uint64_t nHeldBytes = 0;       // level: memory held in unfinished packets now
  uint64_t nAnswersHeld = 0;     // CONNECT and CREATESTREAM answers sent after a hold
};

// "8:3 4:6" in ascending type order ("-" when empty).
std::string FormatAlarmCounts(const AlarmCounts& alarms);
uint64_t AlarmTotal(const AlarmCounts& alarms);

// The server's figures for its stats lines, stats file and metrics, named as
// zel-cli names the same things (logins, keepalives, gps, alarms, replies,
// streams are messages and streams counted one by one).
StatFigures ServerFigures(const ServerStats& s);
