// CTestServer's switches and its actions on single connections, each run on
// the server's loop thread.
#include <cstring>

#include "net/json_writer.h"
#include "tools/server/server.h"
#include "tools/server/test_server.h"

namespace {
std::vector<uint8_t> Framed(int32_t nType, int32_t nChannel, const void* payload, size_t len) {
  std::vector<uint8_t> out(static_cast<size_t>(PACKET_HEAD_LEN) + len);
  WritePacketHead(out.data(), nType, nChannel, static_cast<int32_t>(len));
  if (len > 0) memcpy(out.data() + PACKET_HEAD_LEN, payload, len);
  return out;
}
}  // namespace

// The controlling thread's copy changes first, so that a switch set before
// Start reaches the server that Start makes.
template <class T>
void CTestServer::ChangeSwitch(T ServerSwitches::*field, T value) {
  switches.*field = value;
  ServerSwitches now = switches;
  OnLoop([&] {
    if (!server) return;
    server->Switches() = now;
    server->ApplyReceiveBuffer();
  });
}

void CTestServer::SetAnswerConnect(bool bOn) { ChangeSwitch(&ServerSwitches::bAnswerConnect, bOn); }
void CTestServer::SetConnectErrorCode(int32_t nErrorCode) { ChangeSwitch(&ServerSwitches::nConnectError, nErrorCode); }
void CTestServer::SetAnswerCreateStream(bool bOn) { ChangeSwitch(&ServerSwitches::bAnswerCreateStream, bOn); }
void CTestServer::SetAcceptAnyStream(bool bOn) { ChangeSwitch(&ServerSwitches::bAcceptAnyStream, bOn); }
void CTestServer::SetSilent(bool bOn) { ChangeSwitch(&ServerSwitches::bSilent, bOn); }
void CTestServer::SetRefuse(bool bOn) { ChangeSwitch(&ServerSwitches::bRefuseNew, bOn); }
void CTestServer::SetReceiveBuffer(int32_t nBytes) { ChangeSwitch(&ServerSwitches::nRecvBuf, nBytes); }
void CTestServer::SetPauseNewConnections(bool bOn) { ChangeSwitch(&ServerSwitches::bPauseNew, bOn); }

void CTestServer::SetReading(int32_t nConn, bool bOn) {
  OnConn(nConn, [&](CConnection& c) {
    server->SetReading(c, bOn);
    return true;
  });
}

void CTestServer::SetRecordLimit(int64_t nBytes) {
  OnLoop([&] { log.SetRecordLimit(nBytes); });
}

bool CTestServer::OnConn(int32_t nConn, const std::function<bool(CConnection&)>& fn) const {
  return OnLoop([&] {
    CConnection* c = server && nConn > 0 ? server->Conn(static_cast<uint64_t>(nConn)) : nullptr;
    return c && !c->bClosed && fn(*c);
  });
}

bool CTestServer::SendJson(int32_t nConn, const Json::Value& value) {
  return SendJsonText(nConn, WriteCompactJson(value));
}

bool CTestServer::SendJsonText(int32_t nConn, std::string_view text) {
  std::string withNul(text);
  withNul.push_back('\0');
  return SendRaw(nConn, Framed(NTYPE_SIGNAL, 0, withNul.data(), withNul.size()));
}

bool CTestServer::SendPacket(int32_t nConn, int32_t nType, int32_t nChannel, const std::vector<uint8_t>& payload) {
  return SendRaw(nConn, Framed(nType, nChannel, payload.data(), payload.size()));
}

// Refused rather than queued past the bound: the server would drop the
// connection as a slow reader, which is not what the test asked for.
bool CTestServer::SendRaw(int32_t nConn, const std::vector<uint8_t>& bytes) {
  return OnConn(nConn, [&](CConnection& c) {
    if (c.bCloseWhenSent || c.Backlog() + bytes.size() > CONN_MAX_BACKLOG) return false;
    return server->SendPacket(c, bytes.data(), bytes.size());
  });
}

bool CTestServer::Drop(int32_t nConn) {
  return OnConn(nConn, [&](CConnection& c) {
    c.bResetOnClose = true;
    server->CloseConn(c, "dropped by the test");
    return true;
  });
}

// In one loop task, so that no connection is accepted between two drops.
void CTestServer::DropAll() {
  OnLoop([&] {
    for (int32_t id = 1; id <= log.ConnectionCount(); ++id) Drop(id);
  });
}

bool CTestServer::CloseConn(int32_t nConn) {
  return OnConn(nConn, [&](CConnection& c) {
    c.bGraceful = true;
    server->CloseWhenSent(c, "closed by the test");
    return true;
  });
}

void CTestServer::CloseListener() {
  OnLoop([&] {
    if (server) server->CloseListener();
  });
}

bool CTestServer::Restart() {
  return OnLoop([&] {
    std::string error;
    return server && server->Listen(&error);
  });
}
