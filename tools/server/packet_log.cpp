#include "tools/server/packet_log.h"

#include "net/event_loop.h"
#include "net/json_read.h"

void CPacketLog::Clear() {
  conns.clear();
  packets.clear();
  nRecorded = 0;
  nStartMs = CEventLoop::NowMs();
}

CPacketLog::Entry* CPacketLog::Find(uint64_t nConn) {
  if (nConn < 1 || nConn > conns.size()) return nullptr;
  return &conns[nConn - 1];
}

const ConnInfo* CPacketLog::Connection(int32_t nConn) const {
  if (nConn < 1 || static_cast<size_t>(nConn) > conns.size()) return nullptr;
  return &conns[static_cast<size_t>(nConn) - 1].info;
}

// Ids come from the server in accept order, so an entry's index is its id - 1.
void CPacketLog::OnAccepted(uint64_t nConn, const std::string& peer) {
  if (nConn != conns.size() + 1) return;
  conns.emplace_back();
  conns.back().info.nConn = static_cast<int32_t>(nConn);
  conns.back().info.szPeer = peer;
  conns.back().info.bOpen = true;
  Changed();
}

void CPacketLog::OnBytes(uint64_t nConn, int64_t n) {
  if (Entry* e = Find(nConn)) e->info.nBytesIn += n;
  Changed();
}

void CPacketLog::OnPacket(uint64_t nConn, const PacketInfo& info, const uint8_t* packet) {
  Entry* e = Find(nConn);
  if (!e) return;
  bool bKeep = info.nType == NTYPE_SIGNAL || nRecorded + info.nPacketLen <= nRecordLimit;
  CapturedPacket pkt = CapturePacket(info, packet, bKeep);
  pkt.nConn = e->info.nConn;
  pkt.nRecvMs = static_cast<int64_t>(CEventLoop::NowMs() - nStartMs);
  nRecorded += static_cast<int64_t>(pkt.bytes.size());
  ++e->info.nPackets;
  ++e->info.packetsByType[info.nType];
  if (info.nType == NTYPE_SIGNAL) {
    if (e->opCounts.empty()) NoteFirstMessage(e->info, pkt);
    ++e->opCounts[pkt.Operation()];
  }
  e->packetIdx.push_back(packets.size());
  packets.push_back(std::move(pkt));
  Changed();
}

// A connection is a device's signalling connection when its first message is
// CONNECT, a stream's media connection when it is CREATESTREAM.
void CPacketLog::NoteFirstMessage(ConnInfo& info, const CapturedPacket& pkt) const {
  const Json::Value& param = JsonMember(pkt.json, "PARAMETER");
  std::string op = pkt.Operation();
  if (op == "CONNECT") {
    info.nRole = CONN_SIGNAL;
    info.szDsno = JsonText(JsonMember(param, "DSNO"));
  } else if (op == "CREATESTREAM") {
    info.nRole = CONN_MEDIA;
    info.szStreamName = JsonText(JsonMember(param, "STREAMNAME"));
  }
}

void CPacketLog::OnClosed(uint64_t nConn, bool bByPeer) {
  Entry* e = Find(nConn);
  if (!e || !e->info.bOpen) return;
  e->info.bOpen = false;
  (bByPeer ? e->info.bClosedByPeer : e->info.bDroppedByServer) = true;
  Changed();
}

std::vector<CapturedPacket> CPacketLog::Packets(int32_t nConn) const {
  if (nConn == CONN_ANY) return packets;
  std::vector<CapturedPacket> out;
  if (nConn < 1 || static_cast<size_t>(nConn) > conns.size()) return out;
  for (size_t i : conns[static_cast<size_t>(nConn) - 1].packetIdx) out.push_back(packets[i]);
  return out;
}

std::vector<std::string> CPacketLog::Operations(int32_t nConn) const {
  std::vector<std::string> out;
  for (const CapturedPacket& p : packets) {
    if (p.info.nType == NTYPE_SIGNAL && (nConn == CONN_ANY || p.nConn == nConn)) out.push_back(p.Operation());
  }
  return out;
}

int32_t CPacketLog::OperationCount(int32_t nConn, const std::string& op) const {
  int32_t n = 0;
  for (const Entry& e : conns) {
    if (nConn != CONN_ANY && e.info.nConn != nConn) continue;
    auto it = e.opCounts.find(op);
    if (it != e.opCounts.end()) n += it->second;
  }
  return n;
}

int32_t CPacketLog::FindNewest(int32_t nRole, const std::string& key) const {
  for (auto it = conns.rbegin(); it != conns.rend(); ++it) {
    const ConnInfo& i = it->info;
    if (i.nRole == nRole && (nRole == CONN_SIGNAL ? i.szDsno : i.szStreamName) == key) return i.nConn;
  }
  return -1;
}

bool CPacketLog::FindPacket(const std::function<bool(const CapturedPacket&)>& pred, size_t* pNext,
                            CapturedPacket* out) const {
  for (; *pNext < packets.size(); ++*pNext) {
    if (!pred(packets[*pNext])) continue;
    if (out) *out = packets[*pNext];
    ++*pNext;
    return true;
  }
  return false;
}
