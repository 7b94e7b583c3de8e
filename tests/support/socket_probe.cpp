#include "tests/support/socket_probe.h"

#include "tests/support/wait.h"

int CSocketProbe::Callback(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port, int32_t event) {
  auto* self = static_cast<CSocketProbe*>(pUser);
  ProbeEvent ev;
  ev.nEvent = event;
  if (data && len > 0) {
    ev.data.assign(data, data + len);
    // Datagrams are followed by a NUL; frames are not, so look only for datagrams.
    if (port != 0) ev.bNulAfter = data[len] == 0;
  }
  ev.nIp = ip;
  ev.nPort = port;
  std::function<void(const ProbeEvent&)> hook;
  {
    std::lock_guard<std::mutex> lock(self->mu_);
    self->events_.push_back(ev);
    hook = self->hook_;
  }
  if (hook) hook(ev);
  return 0;
}

SocketParam CSocketProbe::ConnectParam(uint16_t port, int32_t nMaxBuf) {
  SocketParam p;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = nMaxBuf;
  p.nRemoteIp = 0x7F000001;
  p.nRemotePort = port;
  p.pfnCallback = &CSocketProbe::Callback;
  p.pUser = this;
  return p;
}

void CSocketProbe::SetHook(std::function<void(const ProbeEvent&)> hook) {
  std::lock_guard<std::mutex> lock(mu_);
  hook_ = std::move(hook);
}

std::vector<ProbeEvent> CSocketProbe::Events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_;
}

int32_t CSocketProbe::Count(int32_t nEvent) const {
  std::lock_guard<std::mutex> lock(mu_);
  int32_t n = 0;
  for (const auto& e : events_) n += e.nEvent == nEvent;
  return n;
}

int32_t CSocketProbe::Total() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int32_t>(events_.size());
}

std::vector<Bytes> CSocketProbe::Frames() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Bytes> out;
  for (const auto& e : events_) {
    if (e.nEvent == SOCK_EVENT_DATA) out.push_back(e.data);
  }
  return out;
}

bool CSocketProbe::WaitFor(int32_t nEvent, int32_t count, int timeoutMs) const {
  return WaitUntil([&] { return Count(nEvent) >= count; }, timeoutMs);
}
