#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

class CServer;
class CConnection;

// The messages of a device's signalling connection: login, keep-alive, GPS
// and alarm uploads, and replies to the server's requests. Loop thread only.
class CSignalHandler {
 public:
  explicit CSignalHandler(CServer& server) : srv(server) {}

  // One parsed message (an object). False when the connection was closed.
  bool OnMessage(CConnection& conn, const Json::Value& msg);
  // conn is closing: its device goes offline.
  void OnClosed(CConnection& conn, const std::string& why);

 private:
  bool OnConnect(CConnection& conn, const Json::Value& msg);
  bool SendLoginAnswer(CConnection& conn, const std::string& id, int32_t code, const Json::Value& answer,
                       int64_t heldMs);
  bool OnKeepAlive(CConnection& conn, const Json::Value& msg);
  bool OnGps(CConnection& conn, const Json::Value& msg);
  bool OnAlarm(CConnection& conn, const Json::Value& msg);
  bool OnOther(CConnection& conn, const Json::Value& msg);
  void AttachDevice(CConnection& conn, const std::string& id);
  std::string Who(const CConnection& conn) const;

  CServer& srv;
};

// A message as one printable line, cut after maxBytes.
std::string MessageText(const Json::Value& msg, size_t maxBytes = 2000);
