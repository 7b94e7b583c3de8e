#include "device/signal_session.h"

#include <cstdio>

#include "device/login_message.h"
#include "net/json_read.h"
#include "net/latency_recorder.h"
#include "net/load_counters.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

namespace {
constexpr int32_t kReconnectPeriodMs = 15000;
}  // namespace

CSignalSession::CSignalSession(CDeviceSettings& deviceSettings, DeviceCounters& deviceCounters)
    : settings(deviceSettings), counters(deviceCounters) {}

void CSignalSession::SetId(const char* id) { snprintf(szId, sizeof szId, "%s", id ? id : ""); }

int CSignalSession::ConnectReg() {
  std::lock_guard<std::mutex> lock(connectLock);
  OutputDebugLine("dev - CDevQ5::ConnectReg");
  sigSocket.Close();
  bLoginPending.store(0);
  std::shared_ptr<const DeviceSettings> s = settings.Snapshot();
  SocketParam p;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = DEV_SIGNAL_MAX_BUF;
  p.nLocalIp = nLocalAddr.load();
  p.nRemoteIp = s->nServerAddr;
  p.nRemotePort = static_cast<uint16_t>(s->nServerPort);
  p.pfnCallback = &CSignalSession::OnSocketEvent;
  p.pUser = this;
  // A failed open (no address, no room in the share table) counts as a failed
  // connect: the tick tries again after the reconnect period.
  if (sigSocket.Open(p) != 0) {
    OutputDebugLine("dev - create socket failed.");
    counters.nConnectFailures.fetch_add(1);
  }
  dwLastConnect.store(GetTickCount());
  bWantOnline.store(1);
  return 0;
}

void CSignalSession::SendLogin() {
  Json::Value msg = BuildLoginMessage(szId);
  dwLoginSentUs.store(GetMicroTicks());
  if (!SendSignalPacket(msg, 2000, 0)) return;
  bLoginPending.store(1);
  CountMessage(MSG_LOGIN);
}

// The times of a login: from its CONNECT (once per sent CONNECT, so a
// repeated answer counts nothing) and, after a login lost on its own, the
// whole time the device was away.
void CSignalSession::RecordLoginTimes(uint32_t now) {
  if (bLoginPending.exchange(0)) RecordLatencySince(LAT_LOGIN, dwLoginSentUs.load());
  if (bRecovering.exchange(0)) RecordLatency(LAT_RECOVERY, static_cast<uint64_t>(now - dwLoginLost.load()) * 1000u);
}

void CSignalSession::OnConnectReply(const Json::Value& reply) {
  // The device goes online all the same; a load test still wants to know.
  if (JsonInt(JsonMember(JsonMember(reply, "RESPONSE"), "ERRORCODE")) != 0) CountFailure(FAIL_LOGIN_REFUSED);
  uint32_t now = GetTickCount();
  RecordLoginTimes(now);
  dwLoginTime.store(now);
  bOnline.store(1);
}

int CSignalSession::OnSocketEvent(void* pUser, uint8_t* data, int32_t len, uint32_t, int32_t, int32_t event) {
  auto* session = static_cast<CSignalSession*>(pUser);
  switch (event) {
    case SOCK_EVENT_DATA: session->OnSignalPacket(data, len); break;
    case SOCK_EVENT_CLOSED:
      // Only a connection that was not let go on purpose raises the event.
      CountFailure(FAIL_CONNECTION_LOST);
      session->bLoginPending.store(0);
      if (session->bOnline.exchange(0)) {
        session->dwLoginLost.store(GetTickCount());
        session->bRecovering.store(1);
      }
      break;
    case SOCK_EVENT_CONNECTED: session->SendLogin(); break;
    default: break;
  }
  return 0;
}

void CSignalSession::CloseSignal() {
  std::lock_guard<std::mutex> lock(connectLock);
  sigSocket.Close();
}

void CSignalSession::GoOffline() {
  bWantOnline.store(0);
  bRecovering.store(0);
  CloseSignal();
  bOnline.store(0);
}

void CSignalSession::GoOffline(std::function<void()> done) {
  // The tick stops sending before the connection goes: a send on a closing
  // connection could only fail.
  bWantOnline.store(0);
  bOnline.store(0);
  bRecovering.store(0);
  std::lock_guard<std::mutex> lock(connectLock);
  sigSocket.Close(std::move(done));
}

void CSignalSession::PrepareExit() { sigSocket.Detach(); }

void CSignalSession::AutoOfflineIfDue(uint32_t now, int32_t nAutoOffline) {
  if (nAutoOffline == 0 || !bOnline.load() ||
      !PeriodDue(now, dwLoginTime.load(), static_cast<int32_t>(static_cast<uint32_t>(nAutoOffline) * 1000u)))
    return;
  CloseSignal();
  bOnline.store(0);
  dwLastConnect.store(now);
}

void CSignalSession::ReconnectIfDue(uint32_t now) {
  if (!PeriodDue(now, dwLastConnect.load(), kReconnectPeriodMs)) return;
  CountAbandonedAttempt();
  CloseSignal();
  settings.RefreshServerAddress();
  ConnectReg();
}

// The device gives up on the connection it holds: one that never came up
// timed out (a refused one was counted when it failed), one that came up
// without a login answer went unanswered.
void CSignalSession::CountAbandonedAttempt() {
  if (!sigSocket.IsOpen()) return;
  if (sigSocket.IsConnected()) {
    CountFailure(FAIL_LOGIN_UNANSWERED);
  } else if (!sigSocket.ConnectFailed()) {
    CountFailure(FAIL_CONNECT_TIMEOUT);
  }
}

bool CSignalSession::SendSignalPacket(const Json::Value& value, uint32_t timeoutMs, int bLog) {
  return SendSignalPacketOn(sigSocket, value, timeoutMs, bLog, false);
}

bool CSignalSession::SendReply(const Json::Value& reply, uint32_t timeoutMs) {
  if (!SendSignalPacket(reply, timeoutMs, 1)) return false;
  CountMessage(MSG_REPLY);
  return true;
}
