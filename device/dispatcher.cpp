#include <cstring>

#include "device/dev_q5.h"
#include "net/json_read.h"
#include "net/latency_recorder.h"
#include "net/load_counters.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

namespace {

using Handler = void (*)(CDevQ5& dev, const Json::Value& request);

struct DispatchRow {
  const char* szOperation;
  Handler pfnHandler;
};

// A device without a stream set leaves media requests unanswered, as one
// that cannot serve them.
void MediaRequest(CDevQ5& dev, int32_t nKind, const Json::Value& request) {
  if (IStreamSet* s = dev.Streams()) s->OnRequest(nKind, request);
}

// The times of a login: from its CONNECT (once per sent CONNECT, so a
// repeated answer counts nothing) and, after a login lost on its own, the
// whole time the device was away.
void RecordLoginTimes(CDevQ5& dev, uint32_t now) {
  if (dev.bLoginPending.exchange(0)) RecordLatencySince(LAT_LOGIN, dev.dwLoginSentUs.load());
  if (dev.bRecovering.exchange(0))
    RecordLatency(LAT_RECOVERY, static_cast<uint64_t>(now - dev.dwLoginLost.load()) * 1000u);
}

void OnConnectReply(CDevQ5& dev, const Json::Value& reply) {
  // The device goes online all the same; a load test still wants to know.
  if (JsonInt(JsonMember(JsonMember(reply, "RESPONSE"), "ERRORCODE")) != 0) CountFailure(FAIL_LOGIN_REFUSED);
  uint32_t now = GetTickCount();
  RecordLoginTimes(dev, now);
  dev.dwLoginTime.store(now);
  dev.bOnline.store(1);
}

// The operations a device acts on, compared in this order; "MODULE" plays no part.
const DispatchRow kDispatchTable[] = {
    {"CONNECT", OnConnectReply},
    {"GETCALENDAR", [](CDevQ5& d, const Json::Value& r) { d.ReplyCalendar(r); }},
    {"CONTROLREMOTEPLAYBACK",
     [](CDevQ5& d, const Json::Value& r) {
       if (IStreamSet* s = d.Streams()) s->OnControlRemotePlayback(r);
     }},
    {"GETDEVVERSIONINFO", [](CDevQ5& d, const Json::Value& r) { d.ReplyVersionInfo(r); }},
    {"QUERYFILELIST", [](CDevQ5& d, const Json::Value& r) { d.ReplyFileList(r); }},
    {"REQUESTTALK", [](CDevQ5& d, const Json::Value& r) { MediaRequest(d, STREAM_TALK, r); }},
    {"REQUESTDOWNLOADVIDEO", [](CDevQ5& d, const Json::Value& r) { MediaRequest(d, STREAM_DOWNLOAD, r); }},
    {"REQUESTREMOTEPLAYBACK", [](CDevQ5& d, const Json::Value& r) { MediaRequest(d, STREAM_PLAYBACK, r); }},
    {"REQUESTALIVEVIDEO", [](CDevQ5& d, const Json::Value& r) { MediaRequest(d, STREAM_LIVE, r); }},
    {"CONTROLSTREAM",
     [](CDevQ5& d, const Json::Value& r) {
       if (IStreamSet* s = d.Streams()) s->OnControlStream(r);
     }},
};

}  // namespace

void CDevQ5::OnSignalPacket(const uint8_t* data, int32_t len) {
  if (!data || len < PACKET_HEAD_LEN) return;
  PacketInfo info;
  if (!ParsePacketHead(data, &info) || info.nType != NTYPE_SIGNAL) return;
  // The framer delivers whole packets; never read past what was delivered.
  int32_t avail = len - info.nHeadLen;
  if (avail <= 0) return;
  int32_t textLen = info.nDataLen < avail ? info.nDataLen : avail;
  DispatchSignal(reinterpret_cast<const char*>(data + info.nHeadLen), textLen);
}

void CDevQ5::DispatchSignal(const char* text, int32_t len) {
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
