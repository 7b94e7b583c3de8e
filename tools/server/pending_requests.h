#pragma once
#include <json/value.h>

#include <cstdint>
#include <map>
#include <string>

// A request the server sent and has not seen answered.
struct PendingRequest {
  int32_t nSerial = 0;
  std::string szDevice;
  std::string szOperation;
  std::string szStream;  // the stream it names, if any
  uint64_t nSentMs = 0;
};

// Requests by SERIAL, matched with replies. Entries older than a limit are
// dropped (control requests are never answered), and at most
// PENDING_MAX_ENTRIES are kept. Loop thread only.
class CPendingRequests {
 public:
  static constexpr size_t PENDING_MAX_ENTRIES = 10000;

  void Add(const PendingRequest& req);
  // Takes the request whose SERIAL equals the reply's RESPONSE / SERIAL (a
  // JSON integer). False when the reply names none that is pending.
  bool Take(const Json::Value& reply, PendingRequest* out);
  // Drops requests sent more than maxAgeMs before nowMs.
  void Expire(uint64_t nowMs, uint64_t maxAgeMs);
  size_t Size() const { return pending.size(); }

 private:
  std::map<int32_t, PendingRequest> pending;
};

// RESPONSE / SERIAL of a reply as an integer; false when it is not one.
bool ReplySerial(const Json::Value& reply, int32_t* out);
