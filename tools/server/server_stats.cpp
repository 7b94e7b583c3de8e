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

namespace {
void Level(StatFigures& f, const char* name, const char* help, uint64_t v) {
  AddLevel(f, name, help, static_cast<double>(v));
}
void Total(StatFigures& f, const char* name, const char* help, uint64_t v) {
  AddTotal(f, name, help, static_cast<double>(v));
}
}  // namespace

StatFigures ServerFigures(const ServerStats& s) {
  StatFigures f;
  Level(f, "connections", "Open connections", s.nConnections);
  Level(f, "devices", "Device numbers seen in a login", s.nDevices);
  Level(f, "logged_in", "Devices logged in on an open connection", s.nLoggedIn);
  Level(f, "streams_open", "Open media connections", s.nStreams);
  Total(f, "accepted", "Connections accepted", s.nAccepted);
  Total(f, "logins", "Login messages received", s.nLoginAttempts);
  Total(f, "keepalives", "Keep-alive messages received", s.nKeepAlives);
  Total(f, "gps", "GPS uploads received", s.nGps);
  Total(f, "alarms", "Alarm messages received", AlarmTotal(s.alarms));
  Total(f, "replies", "Replies to the server's requests received", s.nReplies);
  Total(f, "streams", "Media streams started (CREATESTREAM answered)", s.nStreamsAnswered);
  Total(f, "media_packets", "Media packets received", s.nMediaPackets);
  Total(f, "packets", "Packets received", s.nPacketsIn);
  Total(f, "bytes", "Bytes received", s.nBytesIn);
  Total(f, "malformed", "Connections closed for malformed input", s.nMalformed);
  Total(f, "refused_streams", "Media connections refused for a stream not requested", s.nStreamsRefused);
  Total(f, "idle_closed", "Connections closed for not completing a packet in time", s.nIdleClosed);
  Total(f, "held_over_limit", "Connections closed because unfinished packets passed the memory bound",
        s.nHeldOverLimit);
  Level(f, "held_bytes", "Memory held in unfinished packets", s.nHeldBytes);
  Total(f, "answers_held", "Login and stream answers sent after a --login-delay or --stream-delay hold",
        s.nAnswersHeld);
  return f;
}
