#include "media/stream_set.h"

#include <cstring>

#include "device/media_host.h"
#include "net/json_read.h"

namespace {
constexpr size_t kMaxControlName = 99;

std::unique_ptr<IStreamSet> MakeStreamSet(IMediaHost& device) { return std::make_unique<CStreamSet>(device); }
}  // namespace

CStreamSet::CStreamSet(IMediaHost& dev) : device(dev) {
  for (StreamSlot& s : slots) {
    s.pDevice = &device;
    s.pSet = this;
  }
}

int CStreamSet::OnRequest(int32_t nKind, const Json::Value& request) {
  switch (nKind) {
    case STREAM_LIVE: return OnRequestAliveVideo(request);
    case STREAM_TALK: return OnRequestTalk(request);
    case STREAM_DOWNLOAD: return OnRequestDownloadVideo(request);
    case STREAM_PLAYBACK: return OnRequestRemotePlayback(request);
    default: return 1;
  }
}

void CStreamSet::CountClaimed(int32_t* counts) const {
  if (nSlotsInUse.load(std::memory_order_relaxed) == 0) return;
  for (const StreamSlot& slot : slots) {
    if (!slot.bInUse.load(std::memory_order_relaxed)) continue;
    int32_t kind = slot.nKind.load(std::memory_order_relaxed);
    if (kind >= 0 && kind < STREAM_KINDS) ++counts[kind];
  }
}

StreamSlot* CStreamSet::FindStream(const Json::Value& request) {
  std::string name;
  if (!JsonString(JsonMember(JsonMember(request, "PARAMETER"), "STREAMNAME"), &name)) return nullptr;
  if (name.size() > kMaxControlName || memchr(name.data(), 0, name.size())) return nullptr;
  for (StreamSlot& s : slots) {
    if (s.bInUse.load() && strcmp(s.szStreamName, name.c_str()) == 0) return &s;
  }
  return nullptr;
}

void CStreamSet::OnControlRemotePlayback(const Json::Value& request) {
  StreamSlot* s = FindStream(request);
  if (!s) return;
  switch (JsonInt(JsonMember(JsonMember(request, "PARAMETER"), "PALYBACKCMD"))) {
    case 0: s->bStop.store(1); break;
    case 1: s->bPlaying.store(1); break;
    case 2: s->bPlaying.store(0); break;
    default: break;
  }
}

void CStreamSet::OnControlStream(const Json::Value& request) {
  StreamSlot* s = FindStream(request);
  if (!s) return;
  const Json::Value& par = JsonMember(request, "PARAMETER");
  if (JsonInt(JsonMember(par, "CMD")) != 0) return;
  uint32_t bit = static_cast<uint32_t>(JsonInt(JsonMember(par, "SSRC"))) & 31u;
  s->nChannelMask.fetch_and(~(1u << bit));
}

void InstallMediaStreams() { SetStreamSetMaker(&MakeStreamSet); }

