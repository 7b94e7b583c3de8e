#include "tools/server/signal_handler.h"

#include <time.h>

#include "net/json_read.h"
#include "net/json_writer.h"
#include "net/reply_envelope.h"
#include "tools/server/answer_delay.h"
#include "tools/server/printable.h"
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

// What the answer says is decided now, with the switches in force; it goes
// out at once or after the --login-delay hold.
bool CSignalHandler::OnConnect(CConnection& conn, const Json::Value& msg) {
  std::string id = JsonText(JsonMember(JsonMember(msg, "PARAMETER"), "DSNO"));
  srv.Counters().nLoginAttempts++;
  const AnswerDelay& delay = srv.Options().loginDelay;
  if (id.empty()) {
    srv.Out().Line("login without DSNO from " + conn.szPeer + ": " + MessageText(msg));
    if (!srv.Switches().bAnswerConnect) return true;
    Json::Value answer = BuildReplyEnvelope(msg, "CERTIFICATE", "CONNECT");
    answer["RESPONSE"]["ERRORCODE"] = 1;
    srv.AnswerAfter(conn, delay,
                    [this, answer = std::move(answer)](CConnection& c, int64_t) { return srv.Answer(c, answer); });
    return !conn.bClosed;
  }
  AttachDevice(conn, id);
  DeviceRecord& rec = *conn.pDevice;
  rec.nLoginAttempts++;
  rec.nLoginTime = static_cast<int64_t>(time(nullptr));
  if (!srv.Switches().bAnswerConnect) {
    srv.Out().Event("login " + Printable(id) + " from " + conn.szPeer + " (not answered)");
    return true;
  }
  Json::Value answer = BuildReplyEnvelope(msg, "CERTIFICATE", "CONNECT");
  int32_t code = srv.Switches().nConnectError;
  if (code != 0) answer["RESPONSE"]["ERRORCODE"] = code;
  srv.AnswerAfter(conn, delay, [this, id, code, answer = std::move(answer)](CConnection& c, int64_t heldMs) {
    return SendLoginAnswer(c, id, code, answer, heldMs);
  });
  return !conn.bClosed;
}

// The device counts as logged in when its answer goes out. A held answer is
// dropped when the connection no longer speaks for the device by then (it
// logged in again elsewhere, or this connection logged in as another one).
bool CSignalHandler::SendLoginAnswer(CConnection& conn, const std::string& id, int32_t code, const Json::Value& answer,
                                     int64_t heldMs) {
  DeviceRecord* rec = srv.Devices().Find(id);
  std::string who = "login " + Printable(id) + " from " + conn.szPeer;
  if (!rec || rec->nConnId != conn.nId) {
    srv.Out().Event(who + ": held answer dropped, the connection no longer speaks for the device");
    return false;
  }
  if (code != 0) {
    srv.Out().Event(who + " refused (ERRORCODE " + std::to_string(code) + ")" + HeldNote(heldMs));
    return srv.Answer(conn, answer);
  }
  rec->nLogins++;
  srv.Devices().SetLoggedIn(*rec, true);
  srv.Out().Event(who + HeldNote(heldMs));
  return srv.Answer(conn, answer);
}

bool CSignalHandler::OnKeepAlive(CConnection& conn, const Json::Value& msg) {
  srv.Counters().nKeepAlives++;
  if (conn.pDevice) conn.pDevice->nKeepAlives++;
  return srv.Answer(conn, BuildReplyEnvelope(msg, "CERTIFICATE", "KEEPALIVE"));
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
  return srv.Answer(conn, BuildReplyEnvelope(msg, "DEVEMM", "SPI"));
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
  Json::Value answer = BuildReplyEnvelope(msg, "EVEM", "SENDALARMINFO");
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
