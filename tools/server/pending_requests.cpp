#include "tools/server/pending_requests.h"

#include <climits>

#include "net/json_read.h"

bool ReplySerial(const Json::Value& reply, int32_t* out) {
  const Json::Value& s = JsonMember(JsonMember(reply, "RESPONSE"), "SERIAL");
  if (s.isInt()) {
    *out = s.asInt();
    return true;
  }
  if (s.isUInt() && s.asUInt() <= static_cast<unsigned>(INT_MAX)) {
    *out = static_cast<int32_t>(s.asUInt());
    return true;
  }
  return false;
}

void CPendingRequests::Add(const PendingRequest& req) {
  if (pending.size() >= PENDING_MAX_ENTRIES) pending.erase(pending.begin());  // the oldest serial
  pending[req.nSerial] = req;
}

bool CPendingRequests::Take(const Json::Value& reply, PendingRequest* out) {
  int32_t serial = 0;
  if (!ReplySerial(reply, &serial)) return false;
  auto it = pending.find(serial);
  if (it == pending.end()) return false;
  *out = it->second;
  pending.erase(it);
  return true;
}

void CPendingRequests::Expire(uint64_t nowMs, uint64_t maxAgeMs) {
  for (auto it = pending.begin(); it != pending.end();) {
    if (nowMs - it->second.nSentMs > maxAgeMs) {
      it = pending.erase(it);
    } else {
      ++it;
    }
  }
}
