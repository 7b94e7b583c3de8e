#include <cstring>

#include "device/signal_session.h"
#include "net/json_read.h"
#include "net/load_counters.h"
#include "net/packet.h"
#include "platform/debug_log.h"

namespace {

using Handler = void (*)(CSignalSession& session, const Json::Value& request);

struct DispatchRow {
  const char* szOperation;
  Handler pfnHandler;
};

// A device without a stream set leaves media requests unanswered, as one
// that cannot serve them.
void MediaRequest(CSignalSession& session, int32_t nKind, const Json::Value& request) {
  if (IStreamSet* s = session.Streams()) s->OnRequest(nKind, request);
}

// The operations a device acts on, compared in this order; "MODULE" plays no part.
const DispatchRow kDispatchTable[] = {
    {"CONNECT", [](CSignalSession& d, const Json::Value& r) { d.OnConnectReply(r); }},
    {"GETCALENDAR", [](CSignalSession& d, const Json::Value& r) { d.ReplyCalendar(r); }},
    {"CONTROLREMOTEPLAYBACK",
     [](CSignalSession& d, const Json::Value& r) {
       if (IStreamSet* s = d.Streams()) s->OnControlRemotePlayback(r);
     }},
    {"GETDEVVERSIONINFO", [](CSignalSession& d, const Json::Value& r) { d.ReplyVersionInfo(r); }},
    {"QUERYFILELIST", [](CSignalSession& d, const Json::Value& r) { d.ReplyFileList(r); }},
    {"REQUESTTALK", [](CSignalSession& d, const Json::Value& r) { MediaRequest(d, STREAM_TALK, r); }},
    {"REQUESTDOWNLOADVIDEO", [](CSignalSession& d, const Json::Value& r) { MediaRequest(d, STREAM_DOWNLOAD, r); }},
    {"REQUESTREMOTEPLAYBACK", [](CSignalSession& d, const Json::Value& r) { MediaRequest(d, STREAM_PLAYBACK, r); }},
    {"REQUESTALIVEVIDEO", [](CSignalSession& d, const Json::Value& r) { MediaRequest(d, STREAM_LIVE, r); }},
    {"CONTROLSTREAM",
     [](CSignalSession& d, const Json::Value& r) {
       if (IStreamSet* s = d.Streams()) s->OnControlStream(r);
     }},
};

}  // namespace

void CSignalSession::OnSignalPacket(const uint8_t* data, int32_t len) {
  if (!data || len < PACKET_HEAD_LEN) return;
  PacketInfo info;
  if (!ParsePacketHead(data, &info) || info.nType != NTYPE_SIGNAL) return;
  // The framer delivers whole packets; never read past what was delivered.
  int32_t avail = len - info.nHeadLen;
  if (avail <= 0) return;
  int32_t textLen = info.nDataLen < avail ? info.nDataLen : avail;
  DispatchSignal(reinterpret_cast<const char*>(data + info.nHeadLen), textLen);
}

void CSignalSession::DispatchSignal(const char* text, int32_t len) {
  if (!text || len <= 0) return;
  // The text ends at its first NUL, and never later than the payload.
  const void* nul = memchr(text, 0, static_cast<size_t>(len));
  size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : static_cast<size_t>(len);
  Json::Value request;
  JsonParse(text, text + n, request, true);
  const Json::Value& op = JsonMember(request, "OPERATION");
  if (!JsonIsString(op, "KEEPALIVE")) OutputDebugLine(std::string_view(text, n));
  if (!op.isString()) return;
  for (const DispatchRow& row : kDispatchTable) {
    if (JsonIsString(op, row.szOperation)) {
      row.pfnHandler(*this, request);
      return;
    }
  }
}
