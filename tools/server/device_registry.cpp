#include "tools/server/device_registry.h"

#include <time.h>

#include <algorithm>

#include "net/json_read.h"
#include "tools/server/printable.h"

DeviceRecord& CDeviceRegistry::Get(const std::string& id) {
  auto [it, bNew] = devices.try_emplace(id);
  if (bNew) it->second.szId = id;
  return it->second;
}

DeviceRecord* CDeviceRegistry::Find(const std::string& id) {
  auto it = devices.find(id);
  return it == devices.end() ? nullptr : &it->second;
}

const DeviceRecord* CDeviceRegistry::Find(const std::string& id) const {
  auto it = devices.find(id);
  return it == devices.end() ? nullptr : &it->second;
}

void CDeviceRegistry::SetLoggedIn(DeviceRecord& rec, bool bLoggedIn) {
  if (rec.bLoggedIn == bLoggedIn) return;
  rec.bLoggedIn = bLoggedIn;
  if (bLoggedIn) {
    nLoggedIn++;
  } else {
    nLoggedIn--;
  }
}

std::vector<const DeviceRecord*> CDeviceRegistry::Sorted() const {
  std::vector<const DeviceRecord*> out;
  out.reserve(devices.size());
  for (const auto& kv : devices) out.push_back(&kv.second);
  std::sort(out.begin(), out.end(), [](const DeviceRecord* a, const DeviceRecord* b) { return a->szId < b->szId; });
  return out;
}

GpsFix ReadGpsFix(const Json::Value& message) {
  const Json::Value& p = JsonMember(JsonMember(message, "PARAMETER"), "P");
  GpsFix fix;
  fix.szJ = JsonText(JsonMember(p, "J"));
  fix.szW = JsonText(JsonMember(p, "W"));
  fix.nS = JsonInt(JsonMember(p, "S"));
  fix.szT = JsonText(JsonMember(p, "T"));
  return fix;
}

int32_t ReadAlarmType(const Json::Value& message) {
  const Json::Value& t = JsonMember(JsonMember(message, "PARAMETER"), "ALARMTYPE");
  if (!t.isNumeric()) return ALARM_TYPE_NONE;
  return JsonInt(t);
}

namespace {
std::string ClockText(int64_t seconds) {
  if (seconds == 0) return "-";
  time_t t = static_cast<time_t>(seconds);
  tm local{};
  localtime_r(&t, &local);
  char buf[32];
  strftime(buf, sizeof buf, "%H:%M:%S", &local);
  return buf;
}

const char* StateText(const DeviceRecord& rec) {
  if (rec.nConnId == 0) return "offline";
  return rec.bLoggedIn ? "online" : "connected";
}
}  // namespace

std::string FormatDevice(const DeviceRecord& rec) {
  std::string out = Printable(rec.szId) + " " + StateText(rec);
  if (rec.nConnId != 0) out += " peer=" + rec.szPeer;
  out += " login=" + ClockText(rec.nLoginTime);
  out += " logins=" + std::to_string(rec.nLogins) + "/" + std::to_string(rec.nLoginAttempts);
  out += " keepalives=" + std::to_string(rec.nKeepAlives);
  out += " gps=" + std::to_string(rec.nGps);
  if (rec.nGps > 0) {
    out += " J=" + Printable(rec.lastFix.szJ) + " W=" + Printable(rec.lastFix.szW) +
           " S=" + std::to_string(rec.lastFix.nS) + " T=" + Printable(rec.lastFix.szT);
  }
  out += " alarms=" + FormatAlarmCounts(rec.alarms);
  return out;
}
