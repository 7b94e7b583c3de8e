#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

#include "tools/server/console.h"

// How a console verb turns into a request to a device.
struct RequestForm {
  int32_t nVerb;
  const char* szModule;
  const char* szOperation;
  int32_t nStreamKind;  // SKIND_* of the stream the request opens, or REQ_NO_STREAM
  int32_t nPlaybackCmd; // PALYBACKCMD of the control verbs, -1 otherwise
};
constexpr int32_t REQ_NO_STREAM = -2;

// The form of a request verb (live ... version), null for the others.
const RequestForm* FindRequestForm(int32_t nVerb);

// Builds the request of cmd: SESSION "", MODULE, OPERATION and PARAMETER with
// SERIAL. Stream-opening requests add the new STREAMNAME and IPANDPORT (and
// CHANNEL for live and playback); control requests name cmd.szTarget as
// STREAMNAME. Pure function.
Json::Value BuildRequest(const ConsoleCommand& cmd, int32_t nSerial, const std::string& szStream,
                         const std::string& szIpPort);
