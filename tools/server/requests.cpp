#include "tools/server/requests.h"

#include "tools/server/stream_table.h"

namespace {
const RequestForm REQUESTS[] = {
    {CMD_LIVE, "MEDIASTREAMMODEL", "REQUESTALIVEVIDEO", SKIND_LIVE, -1},
    {CMD_DOWNLOAD, "MEDIASTREAMMODEL", "REQUESTDOWNLOADVIDEO", SKIND_DOWNLOAD, -1},
    {CMD_PLAYBACK, "MEDIASTREAMMODEL", "REQUESTREMOTEPLAYBACK", SKIND_PLAYBACK, -1},
    {CMD_TALK, "MEDIASTREAMMODEL", "REQUESTTALK", SKIND_TALK, -1},
    {CMD_STOP, "MEDIASTREAMMODEL", "CONTROLREMOTEPLAYBACK", REQ_NO_STREAM, 0},
    {CMD_RESUME, "MEDIASTREAMMODEL", "CONTROLREMOTEPLAYBACK", REQ_NO_STREAM, 1},
    {CMD_PAUSE, "MEDIASTREAMMODEL", "CONTROLREMOTEPLAYBACK", REQ_NO_STREAM, 2},
    {CMD_DROP, "MEDIASTREAMMODEL", "CONTROLSTREAM", REQ_NO_STREAM, -1},
    {CMD_CALENDAR, "STORM", "GETCALENDAR", REQ_NO_STREAM, -1},
    {CMD_FILES, "STORM", "QUERYFILELIST", REQ_NO_STREAM, -1},
    {CMD_VERSION, "DEVEMM", "GETDEVVERSIONINFO", REQ_NO_STREAM, -1},
};
}  // namespace

const RequestForm* FindRequestForm(int32_t nVerb) {
  for (const RequestForm& form : REQUESTS) {
    if (form.nVerb == nVerb) return &form;
  }
  return nullptr;
}

Json::Value BuildRequest(const ConsoleCommand& cmd, int32_t nSerial, const std::string& szStream,
                         const std::string& szIpPort) {
  const RequestForm* form = FindRequestForm(cmd.nVerb);
  Json::Value msg(Json::objectValue);
  if (!form) return msg;
  msg["SESSION"] = "";
  msg["MODULE"] = form->szModule;
  msg["OPERATION"] = form->szOperation;
  Json::Value& param = msg["PARAMETER"];
  param["SERIAL"] = nSerial;
  if (form->nStreamKind != REQ_NO_STREAM) {
    param["STREAMNAME"] = szStream;
    param["IPANDPORT"] = szIpPort;
  }
  if (cmd.nVerb == CMD_LIVE || cmd.nVerb == CMD_PLAYBACK) param["CHANNEL"] = Json::UInt(cmd.nMask);
  if (form->nPlaybackCmd >= 0) {
    param["STREAMNAME"] = cmd.szTarget;
    param["PALYBACKCMD"] = form->nPlaybackCmd;
  }
  if (cmd.nVerb == CMD_DROP) {
    param["STREAMNAME"] = cmd.szTarget;
    param["CMD"] = 0;
    param["SSRC"] = cmd.nChannel;
  }
  return msg;
}
