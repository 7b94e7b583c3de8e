#include "tools/server/command_runner.h"

#include <sstream>

#include "net/json_read.h"
#include "net/json_writer.h"
#include "tools/server/printable.h"
#include "tools/server/requests.h"
#include "tools/server/server.h"

CCommandRunner::Lines CCommandRunner::Execute(const std::string& line, bool* pQuit) {
  ConsoleCommand cmd = ParseConsoleLine(line);
  switch (cmd.nVerb) {
    case CMD_NONE: return {};
    case CMD_INVALID: return {"error: " + cmd.szError};
    case CMD_DEVICES: return ListDevices();
    case CMD_STREAMS: return ListStreams();
    case CMD_STATS: return {srv.StatsLine()};
    case CMD_SEND: return SendRaw(cmd);
    case CMD_KICK: return Kick(cmd);
    case CMD_QUIT: *pQuit = true; return {};
    case CMD_HELP: {
      Lines lines;
      std::istringstream in(ConsoleHelp());
      for (std::string l; std::getline(in, l);) lines.push_back(l);
      return lines;
    }
    default: return SendRequest(cmd);
  }
}

CCommandRunner::Lines CCommandRunner::ListDevices() {
  Lines lines{"devices: " + std::to_string(srv.Devices().Size()) + " known, " +
              std::to_string(srv.Devices().LoggedIn()) + " logged in"};
  for (const DeviceRecord* rec : srv.Devices().Sorted()) lines.push_back(FormatDevice(*rec));
  return lines;
}

CCommandRunner::Lines CCommandRunner::ListStreams() {
  // The first figure is the number of lines that follow (live streams and
  // the recently ended ones).
  Lines lines{"streams: " + std::to_string(srv.Streams().Size() + srv.Streams().EndedSize()) + " listed, " +
              std::to_string(srv.Streams().Size()) + " live, " + std::to_string(srv.Counters().nStreams) +
              " with media"};
  for (const StreamRecord* rec : srv.Streams().InOrder()) lines.push_back(FormatStream(*rec));
  return lines;
}

CConnection* CCommandRunner::DeviceConn(const std::string& id, std::string* why) {
  const DeviceRecord* rec = srv.Devices().Find(id);
  CConnection* conn = rec && rec->nConnId ? srv.Conn(rec->nConnId) : nullptr;
  if (!conn) *why = "error: device " + Printable(id) + " is not connected";
  return conn;
}

CCommandRunner::Lines CCommandRunner::SendRequest(const ConsoleCommand& cmd) {
  const RequestForm* form = FindRequestForm(cmd.nVerb);
  if (!form) return {"error: not a request"};
  std::string device = cmd.szTarget;
  std::string stream;
  if (cmd.nVerb == CMD_STOP || cmd.nVerb == CMD_PAUSE || cmd.nVerb == CMD_RESUME || cmd.nVerb == CMD_DROP) {
    const StreamRecord* rec = srv.Streams().Find(cmd.szTarget);
    if (!rec || rec->szDevice.empty()) return {"error: no stream " + Printable(cmd.szTarget) + " of a known device"};
    device = rec->szDevice;
    stream = rec->szName;
  }
  std::string why;
  CConnection* conn = DeviceConn(device, &why);
  if (!conn) return {why};
  bool bNewStream = form->nStreamKind != REQ_NO_STREAM;
  if (bNewStream) stream = srv.Streams().NewName();
  int32_t serial = srv.NextSerial();
  Json::Value msg = BuildRequest(cmd, serial, stream, srv.MediaAddressFor(*conn));
  if (!srv.SendMessage(*conn, msg)) return {"error: sending to " + Printable(device) + " failed"};
  srv.Pending().Add({serial, device, form->szOperation, stream, CEventLoop::NowMs()});
  if (bNewStream) {
    StreamRecord& rec = srv.Streams().Create(stream);
    rec.nRequestedMs = CEventLoop::NowMs();
    rec.nKind = form->nStreamKind;
    rec.szDevice = device;
    rec.nSerial = serial;
    rec.nMask = (cmd.nVerb == CMD_LIVE || cmd.nVerb == CMD_PLAYBACK) ? cmd.nMask : 0;
  }
  std::string named = bNewStream ? " STREAMNAME=" + stream : "";
  return {"sent " + std::string(form->szOperation) + " to " + Printable(device) + " SERIAL=" + std::to_string(serial) +
          named + ": " + WriteCompactJson(msg)};
}

CCommandRunner::Lines CCommandRunner::SendRaw(const ConsoleCommand& cmd) {
  Json::Value msg;
  if (!JsonParse(cmd.szJson.data(), cmd.szJson.data() + cmd.szJson.size(), msg, false) || !msg.isObject()) {
    return {"error: not a JSON object: " + Printable(cmd.szJson)};
  }
  std::string why;
  CConnection* conn = DeviceConn(cmd.szTarget, &why);
  if (!conn) return {why};
  if (!srv.SendMessage(*conn, msg)) return {"error: sending to " + Printable(cmd.szTarget) + " failed"};
  const Json::Value& serial = JsonMember(JsonMember(msg, "PARAMETER"), "SERIAL");
  if (serial.isInt()) {
    // A hand-made request with a SERIAL is matched with its reply like the others.
    srv.Pending().Add({serial.asInt(), cmd.szTarget, JsonText(JsonMember(msg, "OPERATION")), "", CEventLoop::NowMs()});
  }
  return {"sent to " + Printable(cmd.szTarget) + ": " + WriteCompactJson(msg)};
}

CCommandRunner::Lines CCommandRunner::Kick(const ConsoleCommand& cmd) {
  std::string why;
  CConnection* conn = DeviceConn(cmd.szTarget, &why);
  if (!conn) return {why};
  srv.CloseConn(*conn, "kicked by the operator");
  return {"kicked " + Printable(cmd.szTarget)};
}
