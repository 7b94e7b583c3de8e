#include "tools/server/media_handler.h"

#include "net/json_read.h"
#include "net/reply_envelope.h"
#include "tools/server/answer_delay.h"
#include "tools/server/printable.h"
#include "tools/server/requests.h"
#include "tools/server/server.h"

namespace {
constexpr size_t STREAM_NAME_MAX = 255;  // longer names from the network are cut
}  // namespace

bool CMediaHandler::OnMessage(CConnection& conn, const Json::Value& msg) {
  if (JsonIsString(JsonMember(msg, "OPERATION"), "CREATESTREAM")) return OnCreateStream(conn, msg);
  std::string name = conn.pStream ? Printable(conn.pStream->szName) : conn.szPeer;
  srv.Out().Event("media message on " + name + ": " + MessageText(msg));
  return true;
}

bool CMediaHandler::OnCreateStream(CConnection& conn, const Json::Value& msg) {
  if (conn.pStream) {
    // A second answer would make a device start a second sender on the same stream.
    srv.Out().Event("repeated CREATESTREAM on stream " + Printable(conn.pStream->szName) + " ignored");
    return true;
  }
  std::string name = JsonText(JsonMember(JsonMember(msg, "PARAMETER"), "STREAMNAME")).substr(0, STREAM_NAME_MAX);
  StreamRecord* pRec = srv.Streams().FindLive(name);
  if (!pRec && srv.Switches().bAcceptAnyStream) pRec = &srv.Streams().Create(name);
  if (!pRec) return RefuseStream(conn, msg, name);
  StreamRecord& rec = *pRec;
  if (rec.nConnId != 0) {
    if (CConnection* old = srv.Conn(rec.nConnId)) DetachStream(*old);
  }
  // The stream is attached at once, so media sent before the answer is
  // counted as ever; it counts as started when the answer goes out.
  rec.nConnId = conn.nId;
  rec.szPeer = conn.szPeer;
  conn.pStream = &rec;
  srv.Counters().nStreams++;
  srv.Out().Event("stream " + Printable(name) + " (" + StreamKindName(rec.nKind) + ", device " +
                  (rec.szDevice.empty() ? std::string("-") : Printable(rec.szDevice)) + ") media from " + conn.szPeer);
  if (!srv.Switches().bAnswerCreateStream) {
    CountStarted(rec);
    return true;
  }
  Json::Value answer = BuildReplyEnvelope(msg, "CERTIFICATE", "CREATESTREAM");
  answer["RESPONSE"]["STREAMNAME"] = name;
  auto send = [this, name, answer = std::move(answer)](CConnection& c, int64_t heldMs) {
    return SendStreamAnswer(c, name, answer, heldMs);
  };
  srv.AnswerAfter(conn, srv.Options().streamDelay, std::move(send));
  return !conn.bClosed;
}

void CMediaHandler::CountStarted(StreamRecord& rec) {
  rec.bCreated = true;
  srv.Counters().nStreamsAnswered++;
}

// A held answer is dropped when the stream has ended or moved to a newer
// media connection by then.
bool CMediaHandler::SendStreamAnswer(CConnection& conn, const std::string& name, const Json::Value& answer,
                                     int64_t heldMs) {
  StreamRecord* rec = srv.Streams().FindLive(name);
  if (!rec || rec->nConnId != conn.nId || conn.pStream != rec) {
    srv.Out().Event("stream " + Printable(name) + ": held answer dropped, the stream has left " + conn.szPeer);
    return false;
  }
  CountStarted(*rec);
  if (heldMs != ANSWER_NOT_HELD)
    srv.Out().Event("stream " + Printable(name) + " answered (held " + std::to_string(heldMs) + " ms)");
  if (!srv.Answer(conn, answer)) return false;
  if (rec->nKind == SKIND_TALK) StartTalk(*rec);
  return true;
}

// Media for a stream the server never asked for (or that has ended) would
// only fill the tables: the device hears a non-zero ERRORCODE and the
// connection closes once the answer is out. Nothing more is read from it
// while the answer is held.
bool CMediaHandler::RefuseStream(CConnection& conn, const Json::Value& msg, const std::string& name) {
  srv.Counters().nStreamsRefused++;
  srv.Out().Line("CREATESTREAM for stream " + Printable(name) + ", which was not requested, from " + conn.szPeer +
                 " refused");
  if (!srv.Switches().bAnswerCreateStream) {
    srv.CloseWhenSent(conn, "stream not requested");
    return false;
  }
  Json::Value answer = BuildReplyEnvelope(msg, "CERTIFICATE", "CREATESTREAM");
  answer["RESPONSE"]["ERRORCODE"] = CREATESTREAM_REFUSED;
  answer["RESPONSE"]["STREAMNAME"] = name;
  if (srv.Options().streamDelay.Holds()) srv.SetReading(conn, false);
  srv.AnswerAfter(conn, srv.Options().streamDelay, [this, answer = std::move(answer)](CConnection& c, int64_t) {
    if (!srv.Answer(c, answer)) return false;
    srv.CloseWhenSent(c, "stream not requested");
    return true;
  });
  return false;
}

bool CMediaHandler::OnMedia(CConnection& conn, const PacketInfo& info, const uint8_t* packet) {
  srv.Counters().nMediaPackets++;
  srv.Counters().nMediaBytes += static_cast<uint64_t>(info.nDataLen);
  StreamRecord* rec = conn.pStream;
  if (!rec) return true;
  const uint8_t* payload = packet + info.nHeadLen;
  ChunkProbe probe = CountMediaPacket(*rec, info, payload, CEventLoop::NowMs());
  if (info.nType == NTYPE_LIVE && probe.bChunk && probe.bVideo && srv.Recorder().Enabled()) {
    Record(*rec, info.nChannel, payload + probe.nPayloadOff, probe.nPayloadLen);
  }
  return true;
}

void CMediaHandler::Record(StreamRecord& rec, int32_t channel, const uint8_t* p, size_t n) {
  std::string error;
  if (!srv.Recorder().Append(rec.szName, channel, p, n, &error)) {
    if (!error.empty()) srv.Out().Line("record: " + error);
  }
}

// The stream moves to a newer media connection; the old one stays open but
// no longer feeds it.
void CMediaHandler::DetachStream(CConnection& conn) {
  if (!conn.pStream) return;
  conn.pStream = nullptr;
  srv.Counters().nStreams--;
}

void CMediaHandler::OnClosed(CConnection& conn) {
  StreamRecord* rec = conn.pStream;
  if (!rec) return;
  DetachStream(conn);
  if (rec->nConnId != conn.nId) return;
  rec->nConnId = 0;
  StopTalk(*rec);
  srv.Recorder().CloseStream(rec->szName);
  srv.Out().Event("stream ended: " + FormatStream(*rec));
  srv.Streams().End(rec->szName);
}

void CMediaHandler::StartTalk(StreamRecord& rec) {
  if (rec.nTalkTimer != 0) return;
  std::string name = rec.szName;
  rec.nTalkTimer = srv.Loop().AddTimer(TALK_PERIOD_MS, TALK_PERIOD_MS, [this, name] { SendTalk(name); });
}

void CMediaHandler::StopTalk(StreamRecord& rec) {
  if (rec.nTalkTimer == 0) return;
  srv.Loop().CancelTimer(rec.nTalkTimer);
  rec.nTalkTimer = 0;
}

void CMediaHandler::SendTalk(const std::string& name) {
  StreamRecord* rec = srv.Streams().FindLive(name);
  if (!rec) return;
  CConnection* conn = rec->nConnId ? srv.Conn(rec->nConnId) : nullptr;
  if (!conn) return StopTalk(*rec);
  if (conn->Backlog() > TALK_MAX_BACKLOG) return;  // the device is not reading: skip this one
  uint8_t packet[PACKET_HEAD_LEN + TALK_PAYLOAD] = {};
  WritePacketHead(packet, NTYPE_TALK, 0, TALK_PAYLOAD);
  if (srv.SendPacket(*conn, packet, sizeof packet)) rec->nTalkSent++;
}
