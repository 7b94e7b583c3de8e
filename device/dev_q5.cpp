#include "device/dev_q5.h"

#include <cstdio>
#include <cstring>

#include "device/login_message.h"
#include "net/load_counters.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

namespace {
void CopyText(char* dst, size_t size, const char* src) {
  if (!src) src = "";
  snprintf(dst, size, "%s", src);
}
}  // namespace

std::atomic<int32_t>& EmergencyAlarmCounter() {
  static std::atomic<int32_t> counter{1};
  return counter;
}

CDevQ5::CDevQ5() {
  uint32_t t = GetTickCount();
  nSpeedAlarmUid = t;
  nVideoLostSeq = t + 1000587u;
  nSosUidBase.store(t + 500123u);
  nSosUid.store(t + 500123u);
  uint32_t t2 = GetTickCount();
  dwNow = dwLastKeepAlive = dwLastAlarm = dwLastGps = t2;
  if (StreamSetMaker maker = GetStreamSetMaker()) pStreams = maker(*this);
}

CDevQ5::~CDevQ5() {
  // The fleet calls Shutdown first; this keeps a device that is destroyed
  // without it from leaving threads behind that still use it.
  Shutdown();
}

int CDevQ5::ConnectReg() {
  std::lock_guard<std::mutex> lock(connectLock);
  OutputDebugLine("dev - CDevQ5::ConnectReg");
  sigSocket.Close();
  bLoginPending.store(0);
  SocketParam p;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = DEV_SIGNAL_MAX_BUF;
  p.nLocalIp = nLocalAddr.load();
  p.nRemoteIp = nServerAddr.load();
  p.nRemotePort = static_cast<uint16_t>(nServerPort.load());
  p.pfnCallback = &CDevQ5::OnSocketEvent;
  p.pUser = this;
  // A failed open (no address, no room in the share table) counts as a failed
  // connect: the tick tries again after the reconnect period.
  if (sigSocket.Open(p) != 0) {
    OutputDebugLine("dev - create socket failed.");
    nConnectFailures.fetch_add(1);
  }
  dwLastConnect.store(GetTickCount());
  bWantOnline.store(1);
  return 0;
}

void CDevQ5::SendLogin() {
  Json::Value msg = BuildLoginMessage(szId);
  dwLoginSentUs.store(GetMicroTicks());
  if (!SendSignalPacket(msg, 2000, 0)) return;
  bLoginPending.store(1);
  CountMessage(MSG_LOGIN);
}

int CDevQ5::OnSocketEvent(void* pUser, uint8_t* data, int32_t len, uint32_t, int32_t, int32_t event) {
  auto* dev = static_cast<CDevQ5*>(pUser);
  switch (event) {
    case SOCK_EVENT_DATA: dev->OnSignalPacket(data, len); break;
    case SOCK_EVENT_CLOSED:
      // Only a connection that was not let go on purpose raises the event.
      CountFailure(FAIL_CONNECTION_LOST);
      dev->bLoginPending.store(0);
      if (dev->bOnline.exchange(0)) {
        dev->dwLoginLost.store(GetTickCount());
        dev->bRecovering.store(1);
      }
      break;
    case SOCK_EVENT_CONNECTED: dev->SendLogin(); break;
    default: break;
  }
  return 0;
}

void CDevQ5::CloseSignal() {
  std::lock_guard<std::mutex> lock(connectLock);
  sigSocket.Close();
}

void CDevQ5::GoOffline() {
  bWantOnline.store(0);
  bRecovering.store(0);
  CloseSignal();
  bOnline.store(0);
}

void CDevQ5::DetachSignal() {
  // The tick stops sending before the connection goes: a send on a detached
  // connection could only fail.
  bWantOnline.store(0);
  bOnline.store(0);
  bRecovering.store(0);
  std::lock_guard<std::mutex> lock(connectLock);
  sigSocket.Detach();
}

void CDevQ5::Shutdown() {
  bStopping.store(1);
  bWantOnline.store(0);
  bRecovering.store(0);
  CloseSignal();
  bOnline.store(0);
  if (pStreams) pStreams->StopAll();
}

void CDevQ5::PrepareExit() {
  bStopping.store(1);
  sigSocket.Detach();
}

bool CDevQ5::SendReply(const Json::Value& reply, uint32_t timeoutMs) {
  if (!SendSignalPacket(reply, timeoutMs, 1)) return false;
  CountMessage(MSG_REPLY);
  return true;
}

bool CDevQ5::SendSignalPacket(const Json::Value& value, uint32_t timeoutMs, int bLog) {
  return SendSignalPacketOn(sigSocket, value, timeoutMs, bLog, false);
}

void CDevQ5::SetId(const char* id) { CopyText(szId, sizeof szId, id); }

void CDevQ5::SetServer(const char* host, int32_t port, uint32_t ip) {
  std::lock_guard<std::mutex> lock(textLock);
  CopyText(szServerIp, sizeof szServerIp, host);
  nServerPort.store(port);
  nServerAddr.store(ip);
}

void CDevQ5::SetServer(const char* host, int32_t port) {
  uint32_t ip = 0;
  std::string why;
  ResolveServerHost(host ? host : "", &ip, &why);
  SetServer(host, port, ip);
}

void CDevQ5::RefreshServerAddress() {
  std::string host = GetServerIp();
  if (IsNumericHost(host)) return;
  uint32_t ip = 0;
  std::string why;
  if (ResolveServerHost(host, &ip, &why)) nServerAddr.store(ip);
}

std::string CDevQ5::GetServerIp() const {
  std::lock_guard<std::mutex> lock(textLock);
  return szServerIp;
}

void CDevQ5::SetFramePath(const char* path) {
  std::lock_guard<std::mutex> lock(textLock);
  CopyText(szFramePath, sizeof szFramePath, path);
}

std::string CDevQ5::GetFramePath() const {
  std::lock_guard<std::mutex> lock(textLock);
  return szFramePath;
}

DeviceProperties CDevQ5::GetProperties() const {
  DeviceProperties p;
  p.bAutoUpload = bAutoUpload.load();
  p.nUploadInterval = nUploadInterval.load();
  p.bGps = bGps.load();
  p.bCustomAlarm = bCustomAlarm.load();
  p.bSpeedAlarm = bSpeedAlarm.load();
  p.nAutoOffline = nAutoOffline.load();
  p.nLiveViewOff = nLiveViewOff.load();
  return p;
}

void CDevQ5::SetProperties(const DeviceProperties& p) {
  bAutoUpload.store(p.bAutoUpload);
  nUploadInterval.store(p.nUploadInterval);
  bGps.store(p.bGps);
  bCustomAlarm.store(p.bCustomAlarm);
  bSpeedAlarm.store(p.bSpeedAlarm);
  nAutoOffline.store(p.nAutoOffline);
  nLiveViewOff.store(p.nLiveViewOff);
}
