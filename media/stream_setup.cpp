#include <cstring>
#include <string>

#include "device/media_host.h"
#include "media/stream_set.h"
#include "media/media_address.h"
#include "media/media_messages.h"
#include "media/slot_state.h"
#include "net/json_read.h"
#include "platform/debug_log.h"

// The four media requests. Each runs on the share thread of the device's
// signalling socket, one request at a time, so claims never race each other.
// A request that fails sends no reply and returns 1.

namespace {

constexpr uint32_t kDownloadOpenDelayMs = 1000;  // between a download's reply and its connection

const Json::Value& Param(const Json::Value& request, const char* key) {
  return JsonMember(JsonMember(request, "PARAMETER"), key);
}

uint32_t ChannelOf(const Json::Value& request) { return static_cast<uint32_t>(JsonInt(Param(request, "CHANNEL"))); }

// The request's stream name into name. A name too long for a slot is answered
// with the failure reply (ERRORCODE 1) instead of being served under a cut
// name or left without an answer; a name that is no text gets no reply.
bool TakeStreamName(IMediaHost& dev, const Json::Value& request, const char* op, bool bSession, char* name) {
  if (ReadStreamName(request, name)) return true;
  std::string full;
  if (!JsonString(Param(request, "STREAMNAME"), &full) || full.find('\0') != std::string::npos) return false;
  OutputDebugLine("dev - stream name too long.");
  Json::Value reply = BuildMediaReply(request, op, full.c_str(), bSession, 0);
  reply["RESPONSE"]["ERRORCODE"] = MEDIA_REPLY_FAILED;
  dev.SendMediaReply(reply, 1000);
  return false;
}

// The first free slot in index order, or null after "dev - resource not enough".
StreamSlot* FindFreeSlot(CStreamSet& set) {
  for (StreamSlot& s : set.slots) {
    if (!s.bInUse.load()) return &s;
  }
  OutputDebugLine("dev - resource not enough");
  return nullptr;
}

// The first claimed slot of this name, whatever its kind, that is still
// running or about to run (a stopping or abandoned stream is not revived).
StreamSlot* FindStreamToJoin(CStreamSet& set, const char* name) {
  for (StreamSlot& s : set.slots) {
    if (s.bInUse.load() && strcmp(s.szStreamName, name) == 0) {
      if (SlotJoinable(s)) return &s;
    }
  }
  return nullptr;
}

// Fills what every kind of slot gets; bInUse is set last, after the claim state.
void ClaimSlot(CStreamSet& set, StreamSlot& s, int32_t nKind, const char* name) {
  BeginSlotClaim(s);
  s.nKind.store(nKind);
  set.nSlotsInUse.fetch_add(1);
  memcpy(s.szStreamName, name, strlen(name) + 1);
}

MediaAddress ResolveFor(IMediaHost& dev, int32_t nRules, const Json::Value& request, bool* bOk) {
  MediaAddress addr;
  *bOk = ResolveMediaAddress(nRules, Param(request, "IPANDPORT"), dev.MediaServerAddr(), dev.MediaServerPort(), &addr);
  return addr;
}

// A failed open is reported and the request carries on; the slot is marked so
// that the device takes it back. delayMs holds the connection attempt back on
// the share thread's timer, so the signalling thread never waits for it.
void OpenMediaConnection(StreamSlot& s, const MediaAddress& addr, uint32_t delayMs = 0) {
  SocketParam p;
  p.nConnectDelayMs = delayMs;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = DEV_MEDIA_MAX_BUF;
  p.nLocalIp = s.pDevice->MediaLocalAddr();  // a device's connections share one source address
  p.nShareGroup = s.pDevice->MediaShareGroup();  // served by the signalling loop, like the sender
  p.bDrainedEvent = 1;  // a sender waiting for room goes on when the output buffer is written out
  p.nRemoteIp = addr.nIp;
  p.nRemotePort = addr.nPort;
  p.pfnCallback = &CStreamSet::MediaCallback;
  p.pUser = &s;
  if (s.mediaSocket.Open(p) != 0) {
    OutputDebugLine("dev - create socket failed.");
    s.bAbandoned.store(1);
  }
  EndSlotOpening(s);
}

}  // namespace

int CStreamSet::OnRequestTalk(const Json::Value& request) {
  char name[STREAM_NAME_SIZE];
  if (!TakeStreamName(device, request, "REQUESTTALK", false, name)) return 1;
  StreamSlot* s = FindFreeSlot(*this);
  if (!s) return 1;
  ClaimSlot(*this, *s, STREAM_TALK, name);
  s->bStop.store(0);
  s->bInUse.store(1);
  bool bOk;
  OpenMediaConnection(*s, ResolveFor(device, MEDIA_ADDR_TALK, request, &bOk));
  device.SendMediaReply(BuildMediaReply(request, "REQUESTTALK", name, false, 0), 1000);
  return 0;
}

int CStreamSet::OnRequestAliveVideo(const Json::Value& request) {
  char name[STREAM_NAME_SIZE];
  if (!TakeStreamName(device, request, "REQUESTALIVEVIDEO", false, name)) return 1;
  StreamSlot* s = FindStreamToJoin(*this, name);
  if (s) {
    // The running sender serves the added channels from its next chunk on.
    s->nChannelMask.fetch_or(ChannelOf(request));
  } else {
    s = FindFreeSlot(*this);
    if (!s) return 1;
    bool bOk;
    MediaAddress addr = ResolveFor(device, MEDIA_ADDR_LIVE, request, &bOk);
    if (!bOk) {
      OutputDebugLine("dev - register address error.");
      return 1;  // nothing claimed, nothing opened
    }
    ClaimSlot(*this, *s, STREAM_LIVE, name);
    s->bStop.store(0);
    s->nChannelMask.store(ChannelOf(request));
    s->bInUse.store(1);
    OpenMediaConnection(*s, addr);
  }
  device.SendMediaReply(BuildMediaReply(request, "REQUESTALIVEVIDEO", name, false, 0), 1000);
  return 0;
}

// The reply goes first; the connection attempt follows a second later. bStop
// is left as it was: downloads ignore it.
int CStreamSet::OnRequestDownloadVideo(const Json::Value& request) {
  char name[STREAM_NAME_SIZE];
  if (!TakeStreamName(device, request, "REQUESTDOWNLOADVIDEO", true, name)) return 1;
  StreamSlot* s = FindFreeSlot(*this);
  if (!s) return 1;
  ClaimSlot(*this, *s, STREAM_DOWNLOAD, name);
  s->bInUse.store(1);
  device.SendMediaReply(BuildMediaReply(request, "REQUESTDOWNLOADVIDEO", name, true, DOWNLOAD_FILE_SIZE), 1000);
  bool bOk;
  OpenMediaConnection(*s, ResolveFor(device, MEDIA_ADDR_RECORDING, request, &bOk), kDownloadOpenDelayMs);
  return 0;
}

int CStreamSet::OnRequestRemotePlayback(const Json::Value& request) {
  char name[STREAM_NAME_SIZE];
  if (!TakeStreamName(device, request, "REQUESTREMOTEPLAYBACK", true, name)) return 1;
  StreamSlot* s = FindFreeSlot(*this);
  if (!s) return 1;
  ClaimSlot(*this, *s, STREAM_PLAYBACK, name);
  s->bStop.store(0);
  s->bPlaying.store(1);
  s->nChannelMask.store(ChannelOf(request));  // kept, not used by the sender
  s->bInUse.store(1);
  device.SendMediaReply(BuildMediaReply(request, "REQUESTREMOTEPLAYBACK", name, true, 0), 1000);
  bool bOk;
  OpenMediaConnection(*s, ResolveFor(device, MEDIA_ADDR_RECORDING, request, &bOk));
  return 0;
}
