#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

#include "net/media_timing.h"
#include "net/packet.h"

class CServer;
class CConnection;
struct StreamRecord;

// Talk audio the server sends back: 80 bytes of silence every 200 ms.
// A talk packet is skipped while this many bytes wait to be sent.
constexpr size_t TALK_MAX_BACKLOG = 65536;
// ERRORCODE of the CREATESTREAM answer to a stream the server did not request.
constexpr int32_t CREATESTREAM_REFUSED = 1;

// Media connections: the CREATESTREAM answer, counting and recording of the
// media, and the audio sent back on talk streams. Loop thread only.
class CMediaHandler {
 public:
  explicit CMediaHandler(CServer& server) : srv(server) {}

  // A JSON message on a media connection (the first is its CREATESTREAM).
  // False when the connection was closed.
  bool OnMessage(CConnection& conn, const Json::Value& msg);
  // A media packet (type 2 to 5). False when the connection was closed.
  bool OnMedia(CConnection& conn, const PacketInfo& info, const uint8_t* packet);
  // conn is closing: its stream ends.
  void OnClosed(CConnection& conn);

 private:
  bool OnCreateStream(CConnection& conn, const Json::Value& msg);
  bool SendStreamAnswer(CConnection& conn, const std::string& name, const Json::Value& answer, int64_t heldMs);
  void CountStarted(StreamRecord& rec);
  bool RefuseStream(CConnection& conn, const Json::Value& msg, const std::string& name);
  void DetachStream(CConnection& conn);
  void StartTalk(StreamRecord& rec);
  void StopTalk(StreamRecord& rec);
  void SendTalk(const std::string& name);
  void Record(StreamRecord& rec, int32_t channel, const uint8_t* p, size_t n);

  CServer& srv;
};
