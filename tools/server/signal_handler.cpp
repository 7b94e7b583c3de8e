#include "tools/server/signal_handler.h"

#include <time.h>

#include "net/json_read.h"
#include "net/json_writer.h"
#include "tools/server/requests.h"
#include "tools/server/server.h"

std::string MessageText(const Json::Value& msg, size_t maxBytes) {
  std::string text = WriteCompactJson(msg);
  if (text.size() > maxBytes) text = text.substr(0, maxBytes) + "...";
  return text;
}

bool CSignalHandler::OnMessage(CConnection& conn, const Json::Value& msg) {
  using Handler = bool (CSignalHandler::*)(CConnection&, const Json::Value&);
  static const struct {
    const char* szOperation;
    Handler fn;
  } TABLE[] = {
      {"CONNECT", &CSignalHandler::OnConnect},
      {"KEEPALIVE", &CSignalHandler::OnKeepAlive},
      {"SPI", &CSignalHandler::OnGps},
      {"SENDALARMINFO", &CSignalHandler::OnAlarm},
  };
  const Json::Value& op = JsonMember(msg, "OPERATION");
  // A device's reply to a request repeats the request's OPERATION; its
  // RESPONSE tells it apart from the device's own messages.
  if (!JsonMember(msg, "RESPONSE").isObject()) {
    for (const auto& row : TABLE) {
      if (JsonIsString(op, row.szOperation)) return (this->*row.fn)(conn, msg);
    }
  }
  return OnOther(conn, msg);
}

std::string CSignalHandler::Who(const CConnection& conn) const {
  return conn.pDevice ? Printable(conn.pDevice->szId) : conn.szPeer;
}

void CSignalHandler::AttachDevice(CConnection& conn, const std::string& id) {
  CDeviceRegistry& devices = srv.Devices();
  DeviceRecord& rec = devices.Get(id);
  if (conn.pDevice && conn.pDevice != &rec) OnClosed(conn, "logged in again as " + Printable(id));
  if (rec.nConnId != 0 && rec.nConnId != conn.nId) {
    // The device logs in on a new connection; the old one no longer speaks for it.
    if (CConnection* old = srv.Conn(rec.nConnId)) old->pDevice = nullptr;
    srv.Out().Event("device " + Printable(id) + " logs in again from " + conn.szPeer + " (previous connection " +
                    rec.szPeer + ")");
    devices.SetLoggedIn(rec, false);
  }
  rec.nConnId = conn.nId;
  rec.szPeer = conn.szPeer;
  conn.pDevice = &rec;
}

bool CSignalHandler::OnConnect(CConnection& conn, const Json::Value& msg) {
  std::string id = JsonText(JsonMember(JsonMember(msg, "PARAMETER"), "DSNO"));
  srv.Counters().nLoginAttempts++;
  if (id.empty()) {
    srv.Out().Line("login without DSNO from " + conn.szPeer + ": " + MessageText(msg));
    if (!srv.Switches().bAnswerConnect) return true;
    Json::Value answer = BuildAnswer("CERTIFICATE", "CONNECT", msg);
    answer["RESPONSE"]["ERRORCODE"] = 1;
    return srv.Answer(conn, answer);
  }
  AttachDevice(conn, id);
  DeviceRecord& rec = *conn.pDevice;
  rec.nLoginAttempts++;
  rec.nLoginTime = static_cast<int64_t>(time(nullptr));
  if (!srv.Switches().bAnswerConnect) {
    srv.Out().Event("login " + Printable(id) + " from " + conn.szPeer + " (not answered)");
    return true;
  }
  Json::Value answer = BuildAnswer("CERTIFICATE", "CONNECT", msg);
  if (int32_t code = srv.Switches().nConnectError) {
    srv.Out().Event("login " + Printable(id) + " from " + conn.szPeer + " refused (ERRORCODE " + std::to_string(code) + ")");
    answer["RESPONSE"]["ERRORCODE"] = code;
    return srv.Answer(conn, answer);
  }
  rec.nLogins++;
  srv.Devices().SetLoggedIn(rec, true);
  srv.Out().Event("login " + Printable(id) + " from " + conn.szPeer);
  return srv.Answer(conn, answer);
}

bool CSignalHandler::OnKeepAlive(CConnection& conn, const Json::Value& msg) {
  srv.Counters().nKeepAlives++;
  if (conn.pDevice) conn.pDevice->nKeepAlives++;
  return srv.Answer(conn, BuildAnswer("CERTIFICATE", "KEEPALIVE", msg));
}

bool CSignalHandler::OnGps(CConnection& conn, const Json::Value& msg) {
  srv.Counters().nGps++;
  GpsFix fix = ReadGpsFix(msg);
  if (conn.pDevice) {
    conn.pDevice->nGps++;
    conn.pDevice->lastFix = fix;
  }
  if (!srv.Out().Quiet()) {
    srv.Out().Event("gps " + Who(conn) + " J=" + Printable(fix.szJ) + " W=" + Printable(fix.szW) +
                    " S=" + std::to_string(fix.nS) + " T=" + Printable(fix.szT));
  }
  if (!srv.Options().bReplyToUploads) return true;
  return srv.Answer(conn, BuildAnswer("DEVEMM", "SPI", msg));
}

bool CSignalHandler::OnAlarm(CConnection& conn, const Json::Value& msg) {
  int32_t type = ReadAlarmType(msg);
  srv.Counters().alarms[type]++;
  if (conn.pDevice) conn.pDevice->alarms[type]++;
  const Json::Value& param = JsonMember(msg, "PARAMETER");
  if (!srv.Out().Quiet()) {
    srv.Out().Event("alarm " + Who(conn) + " type=" + std::to_string(type) +
                    " cmd=" + std::to_string(JsonInt(JsonMember(param, "CMDTYPE"))) +
                    " uid=" + MessageText(JsonMember(param, "ALARMUID"), 40) +
                    " name=" + Printable(JsonText(JsonMember(param, "ALARMNAME"))));
  }
  if (!srv.Options().bReplyToUploads) return true;
  Json::Value answer = BuildAnswer("EVEM", "SENDALARMINFO", msg);
  answer["RESPONSE"]["ALARMUID"] = JsonMember(param, "ALARMUID");
  return srv.Answer(conn, answer);
}

bool CSignalHandler::OnOther(CConnection& conn, const Json::Value& msg) {
  if (!JsonMember(msg, "RESPONSE").isObject()) {
    srv.Out().Event("message from " + Who(conn) + ": " + MessageText(msg));
    return true;
  }
  PendingRequest req;
  if (!srv.Pending().Take(msg, &req)) {
    srv.Out().Line("reply from " + Who(conn) + " matches no pending request: " + MessageText(msg));
    return true;
  }
  srv.Counters().nReplies++;
  if (StreamRecord* s = req.szStream.empty() ? nullptr : srv.Streams().FindLive(req.szStream)) s->bReplied = true;
  uint64_t ms = CEventLoop::NowMs() - req.nSentMs;
  srv.Out().Line("reply SERIAL=" + std::to_string(req.nSerial) + " " + req.szOperation + " from " + Who(conn) +
                 " after " + std::to_string(ms) + " ms: " + MessageText(msg));
  return true;
}

void CSignalHandler::OnClosed(CConnection& conn, const std::string& why) {
  DeviceRecord* rec = conn.pDevice;
  conn.pDevice = nullptr;
  if (!rec || rec->nConnId != conn.nId) return;
  rec->nConnId = 0;
  srv.Devices().SetLoggedIn(*rec, false);
  srv.Out().Event("logout " + Printable(rec->szId) + " (" + why + ")");
}
