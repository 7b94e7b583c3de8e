#include "device/dev_q5.h"

#include "net/resolve.h"
#include "platform/tick.h"

std::atomic<int32_t>& EmergencyAlarmCounter() {
  static std::atomic<int32_t> counter{1};
  return counter;
}

CDevQ5::CDevQ5() {
  uint32_t t = GetTickCount();
  counters.nSosUidBase.store(t + 500123u);
  counters.nSosUid.store(t + 500123u);
  schedule.Start(t, GetTickCount());
  if (StreamSetMaker maker = GetStreamSetMaker()) pStreams = maker(*this);
  session.AttachStreams(pStreams.get());
}

CDevQ5::~CDevQ5() {
  // The fleet calls Shutdown first; this keeps a device that is destroyed
  // without it from leaving threads behind that still use it.
  Shutdown();
}

void CDevQ5::Shutdown() {
  bStopping.store(1);
  session.GoOffline();
  if (pStreams) pStreams->StopAll();
}

void CDevQ5::PrepareExit() {
  bStopping.store(1);
  session.PrepareExit();
}

void CDevQ5::SetServer(const char* host, int32_t port) {
  uint32_t ip = 0;
  std::string why;
  ResolveServerHost(host ? host : "", &ip, &why);
  settings.SetServer(host, port, ip);
}
