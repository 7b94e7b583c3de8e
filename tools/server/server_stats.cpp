#include "tools/server/server_stats.h"

std::string FormatAlarmCounts(const AlarmCounts& alarms) {
  if (alarms.empty()) return "-";
  std::string out;
  for (const auto& [type, count] : alarms) {
    if (!out.empty()) out += ',';
    out += (type == ALARM_TYPE_NONE ? std::string("?") : std::to_string(type)) + ":" + std::to_string(count);
  }
  return out;
}

uint64_t AlarmTotal(const AlarmCounts& alarms) {
  uint64_t n = 0;
  for (const auto& kv : alarms) n += kv.second;
  return n;
}

std::string FormatStats(const ServerStats& s) {
  std::string out;
  out += "connections=" + std::to_string(s.nConnections);
  out += " devices=" + std::to_string(s.nDevices);
  out += " logged-in=" + std::to_string(s.nLoggedIn);
  out += " logins=" + std::to_string(s.nLoginAttempts);
  out += " keepalives=" + std::to_string(s.nKeepAlives);
  out += " gps=" + std::to_string(s.nGps);
  out += " alarms=" + std::to_string(AlarmTotal(s.alarms)) + "[" + FormatAlarmCounts(s.alarms) + "]";
  out += " streams=" + std::to_string(s.nStreams);
  out += " media-packets=" + std::to_string(s.nMediaPackets);
  out += " packets=" + std::to_string(s.nPacketsIn);
  out += " bytes=" + std::to_string(s.nBytesIn);
  out += " malformed=" + std::to_string(s.nMalformed);
  out += " replies=" + std::to_string(s.nReplies);
  out += " refused-streams=" + std::to_string(s.nStreamsRefused);
  out += " idle-closed=" + std::to_string(s.nIdleClosed);
  out += " held-bytes=" + std::to_string(s.nHeldBytes);
  out += " held-over-limit=" + std::to_string(s.nHeldOverLimit);
  return out;
}
