#include "device/upload_burst.h"

#include "net/my_socket.h"
#include "net/packet.h"
#include "platform/debug_log.h"

bool CUploadBurst::Add(const Json::Value& value, int bLog, std::atomic<int32_t>* pCounter,
                       std::atomic<uint32_t>* pCounterU) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  thread_local std::string text;
  int32_t len = BuildSignalPacket(value, buf, &text);
  if (len == 0) {
    if (!text.empty()) OutputDebugLine("dev - send data failed.");
    return false;
  }
  if (bLog) OutputDebugLine(text);
  packets.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
  ++nPackets;
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
  } else {
    for (int32_t i = 0; i < nPackets; ++i) OutputDebugLine("dev - send data failed.");
  }
  packets.clear();
  nPackets = 0;
  counters.clear();
  countersU.clear();
}
