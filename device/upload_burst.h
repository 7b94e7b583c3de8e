#pragma once
#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "net/load_counters.h"

class CMySocket;

// The uploads of one Tick (the GPS upload and the alarm cycle), sent together
// in one Send on the signalling connection and handed to its share thread:
// one unit and one segment instead of one each, and no network system call
// on the driver, which is most of what a Tick costs at scale. The
// packets are whole and in order inside the unit, so nothing changes on the
// wire but the packing. Each packet's effect on the device (its counter, the
// SOS number) takes place only when the unit was accepted; when it was not,
// "dev - send data failed." is written once for each packet. Driver thread.
class CUploadBurst {
 public:
  explicit CUploadBurst(CMySocket& sock) : socket(sock) {}
  ~CUploadBurst() { Send(); }
  CUploadBurst(const CUploadBurst&) = delete;
  CUploadBurst& operator=(const CUploadBurst&) = delete;

  // Frames value and keeps its packet (its text goes to the debug channel
  // now when bLog is set). On acceptance *pCounter (when given) goes up by
  // one. False, with "dev - send data failed.", when it cannot be framed.
  bool Add(const Json::Value& value, int bLog, LoadMessage kind, std::atomic<int32_t>* pCounter = nullptr,
           std::atomic<uint32_t>* pCounterU = nullptr);
  // Sends what was kept; nothing when the burst is empty.
  void Send();

 private:
  CMySocket& socket;
  std::string packets;
  int32_t nPackets = 0;
  std::vector<std::atomic<int32_t>*> counters;
  std::vector<std::atomic<uint32_t>*> countersU;
  std::vector<LoadMessage> kinds;
};
