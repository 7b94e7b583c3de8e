#include "device/device_settings.h"

#include <cstring>

#include "net/resolve.h"

namespace {
// The text up to its first NUL and at most size - 1 bytes, as the device's
// fixed text fields have always held it.
std::string CutText(const char* src, size_t size) {
  if (!src) return std::string();
  return std::string(src, strnlen(src, size - 1));
}
}  // namespace

CDeviceSettings::CDeviceSettings() : current(std::make_shared<const DeviceSettings>()) {}

std::shared_ptr<const DeviceSettings> CDeviceSettings::Snapshot() const {
  std::lock_guard<std::mutex> lock(readLock);
  return current;
}

DeviceProperties CDeviceSettings::Properties() const {
  std::lock_guard<std::mutex> lock(readLock);
  return current->props;
}

template <class Edit>
void CDeviceSettings::Update(Edit edit) {
  std::lock_guard<std::mutex> write(writeLock);
  // Only writers change current, so the writer reads it without readLock.
  auto fresh = std::make_shared<DeviceSettings>(*current);
  edit(*fresh);
  std::shared_ptr<const DeviceSettings> next = std::move(fresh);
  {
    std::lock_guard<std::mutex> read(readLock);
    current.swap(next);
  }
  // next now holds the settings replaced; readers that still use them keep them.
}

void CDeviceSettings::SetProperties(const DeviceProperties& p) {
  Update([&](DeviceSettings& s) { s.props = p; });
}

void CDeviceSettings::SetServer(const char* host, int32_t port, uint32_t ip) {
  std::string text = CutText(host, DEV_SERVER_IP_SIZE);
  Update([&](DeviceSettings& s) {
    s.szServerIp = std::move(text);
    s.nServerPort = port;
    s.nServerAddr = ip;
  });
}

void CDeviceSettings::RefreshServerAddress() {
  std::string host = Snapshot()->szServerIp;
  if (IsNumericHost(host)) return;
  uint32_t ip = 0;
  std::string why;
  if (ResolveServerHost(host, &ip, &why)) SetResolvedAddress(host, ip);
}

bool CDeviceSettings::SetResolvedAddress(const std::string& host, uint32_t ip) {
  // The lookup may take long: a server set meanwhile must not get the
  // address of the one it replaced.
  bool bTaken = false;
  Update([&](DeviceSettings& s) {
    if (s.szServerIp != host) return;
    s.nServerAddr = ip;
    bTaken = true;
  });
  return bTaken;
}

void CDeviceSettings::SetFramePath(const char* path) {
  std::string text = CutText(path, DEV_FRAME_PATH_SIZE);
  Update([&](DeviceSettings& s) { s.szFramePath = std::move(text); });
}
