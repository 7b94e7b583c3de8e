#include <cstring>

#include "device/dev_q5.h"
#include "net/json_read.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

namespace {

using Handler = void (*)(CDevQ5& dev, const Json::Value& request);

struct DispatchRow {
  const char* szOperation;
  Handler pfnHandler;
};

void OnConnectReply(CDevQ5& dev, const Json::Value&) {
  dev.dwLoginTime.store(GetTickCount());
  dev.bOnline.store(1);
}

// The operations a device acts on, compared in this order; "MODULE" plays no part.
const DispatchRow kDispatchTable[] = {
    {"CONNECT", OnConnectReply},
    {"GETCALENDAR", [](CDevQ5& d, const Json::Value& r) { d.ReplyCalendar(r); }},
    {"CONTROLREMOTEPLAYBACK", [](CDevQ5& d, const Json::Value& r) { d.OnControlRemotePlayback(r); }},
    {"GETDEVVERSIONINFO", [](CDevQ5& d, const Json::Value& r) { d.ReplyVersionInfo(r); }},
    {"QUERYFILELIST", [](CDevQ5& d, const Json::Value& r) { d.ReplyFileList(r); }},
    {"REQUESTTALK", [](CDevQ5& d, const Json::Value& r) { d.OnRequestTalk(r); }},
    {"REQUESTDOWNLOADVIDEO", [](CDevQ5& d, const Json::Value& r) { d.OnRequestDownloadVideo(r); }},
    {"REQUESTREMOTEPLAYBACK", [](CDevQ5& d, const Json::Value& r) { d.OnRequestRemotePlayback(r); }},
    {"REQUESTALIVEVIDEO", [](CDevQ5& d, const Json::Value& r) { d.OnRequestAliveVideo(r); }},
    {"CONTROLSTREAM", [](CDevQ5& d, const Json::Value& r) { d.OnControlStream(r); }},
};

constexpr size_t kMaxControlName = 99;

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

StreamSlot* CDevQ5::FindStream(const Json::Value& request) {
  std::string name;
  if (!JsonString(JsonMember(JsonMember(request, "PARAMETER"), "STREAMNAME"), &name)) return nullptr;
  if (name.size() > kMaxControlName || memchr(name.data(), 0, name.size())) return nullptr;
  for (StreamSlot& s : streams) {
    if (s.bInUse.load() && strcmp(s.szStreamName, name.c_str()) == 0) return &s;
  }
  return nullptr;
}

void CDevQ5::OnControlRemotePlayback(const Json::Value& request) {
  StreamSlot* s = FindStream(request);
  if (!s) return;
  switch (JsonInt(JsonMember(JsonMember(request, "PARAMETER"), "PALYBACKCMD"))) {
    case 0: s->bStop.store(1); break;
    case 1: s->bPlaying.store(1); break;
    case 2: s->bPlaying.store(0); break;
    default: break;
  }
}

void CDevQ5::OnControlStream(const Json::Value& request) {
  StreamSlot* s = FindStream(request);
  if (!s) return;
  const Json::Value& par = JsonMember(request, "PARAMETER");
  if (JsonInt(JsonMember(par, "CMD")) != 0) return;
  uint32_t bit = static_cast<uint32_t>(JsonInt(JsonMember(par, "SSRC"))) & 31u;
  s->nChannelMask.fetch_and(~(1u << bit));
}
