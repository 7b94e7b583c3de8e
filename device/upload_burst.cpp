#include "device/upload_burst.h"

#include "net/load_counters.h"
#include "net/my_socket.h"
#include "net/packet.h"
#include "platform/debug_log.h"

bool CUploadBurst::Add(const Json::Value& value, int bLog, LoadMessage kind, std::atomic<int32_t>* pCounter,
                       std::atomic<uint32_t>* pCounterU) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  thread_local std::string text;
  int32_t len = BuildSignalPacket(value, buf, &text);
  if (len == 0) {
    if (!text.empty()) ReportSendFailed();
    return false;
  }
  if (bLog) OutputDebugLine(text);
  packets.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
  ++nPackets;
  kinds.push_back(kind);
  if (pCounter) counters.push_back(pCounter);
  if (pCounterU) countersU.push_back(pCounterU);
  return true;
}

void CUploadBurst::Send() {
  if (nPackets == 0) return;
  bool bTaken = socket.Send(packets.data(), static_cast<int32_t>(packets.size()), 0, SOCK_SEND_HAND_OVER) > 0;
  if (bTaken) {
    for (auto* c : counters) c->fetch_add(1);
    for (auto* c : countersU) c->fetch_add(1);
    for (LoadMessage k : kinds) CountMessage(k);
  } else {
    for (int32_t i = 0; i < nPackets; ++i) ReportSendFailed();
  }
  packets.clear();
  nPackets = 0;
  counters.clear();
  countersU.clear();
  kinds.clear();
}
