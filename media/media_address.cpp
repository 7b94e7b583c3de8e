#include "media/media_address.h"

#include <cstdlib>
#include <string>

#include "net/resolve.h"
#include "net/json_read.h"

namespace {

// The address text as a C string would hold it: cut at a NUL and at 99 characters.
bool ReadAddressText(const Json::Value& v, std::string* text) {
  if (!JsonString(v, text)) return false;
  size_t nul = text->find('\0');
  if (nul != std::string::npos) text->resize(nul);
  if (text->size() > static_cast<size_t>(MEDIA_ADDR_MAX_TEXT)) text->resize(MEDIA_ADDR_MAX_TEXT);
  return true;
}

uint32_t HostOf(const std::string& text, size_t colon, uint32_t nServerIp, bool bEmptyIsServer) {
  if (colon == 0) return bEmptyIsServer ? nServerIp : 0;
  return AddressTextToIp(text.substr(0, colon).c_str());
}

uint16_t PortOf(const std::string& text, size_t colon) {
  return static_cast<uint16_t>(atoi(text.c_str() + colon + 1));
}

}  // namespace

bool ResolveMediaAddress(int32_t nRules, const Json::Value& ipAndPort, uint32_t nServerIp, int32_t nServerPort,
                         MediaAddress* out) {
  std::string text;
  bool bText = ReadAddressText(ipAndPort, &text);
  size_t colon = bText ? text.find(':') : std::string::npos;
  uint16_t serverPort = static_cast<uint16_t>(nServerPort);
  if (colon == std::string::npos) {
    switch (nRules) {
      case MEDIA_ADDR_LIVE: return false;
      case MEDIA_ADDR_RECORDING:
        out->nIp = text.empty() ? nServerIp : AddressTextToIp(text.c_str());
        break;
      default: out->nIp = nServerIp; break;
    }
    out->nPort = serverPort;
    return true;
  }
  out->nIp = HostOf(text, colon, nServerIp, nRules != MEDIA_ADDR_TALK);
  out->nPort = PortOf(text, colon);
  if (nRules == MEDIA_ADDR_RECORDING && out->nPort == 0) out->nPort = serverPort;
  return true;
}
