#include "tools/server/stream_table.h"

#include <algorithm>
#include <cstdio>

#include "tools/server/printable.h"

const char* StreamKindName(int32_t nKind) {
  switch (nKind) {
    case SKIND_LIVE: return "live";
    case SKIND_TALK: return "talk";
    case SKIND_DOWNLOAD: return "download";
    case SKIND_PLAYBACK: return "playback";
    default: return "unknown";
  }
}

double FrameRate(const ChannelStats& ch) {
  if (ch.nVideoFrames < 2 || ch.nLastVideoMs <= ch.nFirstVideoMs) return 0.0;
  return static_cast<double>(ch.nVideoFrames - 1) * 1000.0 / static_cast<double>(ch.nLastVideoMs - ch.nFirstVideoMs);
}

std::string CStreamTable::NewName() {
  for (;;) {
    std::string name = "s";
    name += std::to_string(nNextName++);
    if (streams.find(name) == streams.end()) return name;
  }
}

StreamRecord& CStreamTable::Create(const std::string& name) {
  auto [it, bNew] = streams.try_emplace(name);
  if (bNew) order.push_back(name);
  it->second = StreamRecord();
  it->second.szName = name;
  return it->second;
}

StreamRecord* CStreamTable::FindLive(const std::string& name) {
  auto it = streams.find(name);
  return it == streams.end() ? nullptr : &it->second;
}

const StreamRecord* CStreamTable::Find(const std::string& name) const {
  auto it = streams.find(name);
  if (it != streams.end()) return &it->second;
  for (auto e = ended.rbegin(); e != ended.rend(); ++e) {
    if (e->szName == name) return &*e;
  }
  return nullptr;
}

void CStreamTable::End(const std::string& nameIn) {
  const std::string name = nameIn;  // callers pass the record's own name, which goes below
  auto it = streams.find(name);
  if (it == streams.end()) return;
  ended.push_back(std::move(it->second));
  streams.erase(it);
  order.erase(std::find(order.begin(), order.end(), name));
  if (ended.size() > STREAM_HISTORY_MAX) ended.pop_front();
}

std::vector<std::string> CStreamTable::ExpireUnconnected(uint64_t nowMs, uint64_t maxAgeMs) {
  std::vector<std::string> names;
  for (const auto& [name, rec] : streams) {
    if (rec.nConnId == 0 && !rec.bCreated && nowMs - rec.nRequestedMs > maxAgeMs) names.push_back(name);
  }
  for (const std::string& name : names) End(name);
  return names;
}

std::vector<const StreamRecord*> CStreamTable::InOrder() const {
  std::vector<const StreamRecord*> out;
  out.reserve(ended.size() + order.size());
  for (const StreamRecord& rec : ended) out.push_back(&rec);
  for (const std::string& name : order) out.push_back(&streams.at(name));
  return out;
}

ChunkProbe CountMediaPacket(StreamRecord& rec, const PacketInfo& info, const uint8_t* payload, uint64_t nowMs) {
  size_t len = static_cast<size_t>(info.nDataLen);
  rec.nPackets++;
  rec.nBytes += len;
  ChannelStats& ch = rec.channels[info.nChannel];
  ch.nPackets++;
  ch.nBytes += len;
  if (info.nType == NTYPE_TALK) rec.nTalkReceived++;
  if (info.nType != NTYPE_LIVE) return {};
  ChunkProbe probe = ProbeChunk(payload, len);
  if (!probe.bChunk) return probe;
  if (!probe.bVideo) {
    ch.nAudioChunks++;
    return probe;
  }
  if (ch.nVideoFrames == 0) ch.nFirstVideoMs = nowMs;
  ch.nLastVideoMs = nowMs;
  ch.nVideoFrames++;
  if (probe.bKeyFrame) ch.nKeyFrames++;
  return probe;
}

namespace {
const char* StateText(const StreamRecord& rec) {
  if (rec.nConnId != 0) return rec.bCreated ? "streaming" : "connected";
  if (rec.bCreated) return "ended";
  return rec.bReplied ? "accepted" : "requested";
}

template <typename T>
void AppendFigure(std::string& out, const char* label, T value) {
  out += label;
  out += std::to_string(value);
}

std::string FormatChannel(int32_t n, const ChannelStats& ch) {
  char buf[200];
  snprintf(buf, sizeof buf, " ch%d: packets=%llu bytes=%llu frames=%llu key=%llu audio=%llu fps=%.1f", n,
           static_cast<unsigned long long>(ch.nPackets), static_cast<unsigned long long>(ch.nBytes),
           static_cast<unsigned long long>(ch.nVideoFrames), static_cast<unsigned long long>(ch.nKeyFrames),
           static_cast<unsigned long long>(ch.nAudioChunks), FrameRate(ch));
  return buf;
}
}  // namespace

std::string FormatStream(const StreamRecord& rec) {
  std::string out = Printable(rec.szName) + " " + StreamKindName(rec.nKind);
  // Appended piece by piece: GCC's -Wrestrict misfires on "text" + std::string at -O3.
  out += " device=";
  out += rec.szDevice.empty() ? std::string("-") : Printable(rec.szDevice);
  out += " ";
  out += StateText(rec);
  if (rec.nKind == SKIND_LIVE || rec.nKind == SKIND_PLAYBACK) AppendFigure(out, " mask=", rec.nMask);
  AppendFigure(out, " packets=", rec.nPackets);
  AppendFigure(out, " bytes=", rec.nBytes);
  if (rec.nKind == SKIND_TALK || rec.nTalkReceived > 0) {
    AppendFigure(out, " talk-sent=", rec.nTalkSent);
    AppendFigure(out, " talk-received=", rec.nTalkReceived);
  }
  for (const auto& [n, ch] : rec.channels) out += FormatChannel(n, ch);
  return out;
}
