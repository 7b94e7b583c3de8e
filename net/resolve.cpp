#include "net/resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdio>

uint32_t AddressTextToIp(const char* text) {
  int a = 0, b = 0, c = 0, d = 0;
  sscanf(text ? text : "", "%d.%d.%d.%d", &a, &b, &c, &d);
  uint32_t ip = static_cast<uint32_t>(a);
  ip = (ip << 8) | static_cast<uint32_t>(b);
  ip = (ip << 8) | static_cast<uint32_t>(c);
  ip = (ip << 8) | static_cast<uint32_t>(d);
  return ip;
}

bool IsNumericHost(const std::string& host) {
  for (char ch : host) {
    if ((ch < '0' || ch > '9') && ch != '.') return false;
  }
  return !host.empty();
}

namespace {
bool LookUpName(const std::string& host, uint32_t* ip, std::string* why) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    *why = "the name " + host + " cannot be resolved (" + gai_strerror(rc) + ")";
    return false;
  }
  *ip = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(found);
  return true;
}
}  // namespace

bool ResolveServerHost(const std::string& host, uint32_t* ip, std::string* why) {
  if (host.empty()) {
    *why = "the register server has no host";
    return false;
  }
  uint32_t found = 0;
  if (IsNumericHost(host)) {
    found = AddressTextToIp(host.c_str());
  } else if (!LookUpName(host, &found, why)) {
    return false;
  }
  if (found == 0) {
    *why = "0.0.0.0 is not a register server address";
    return false;
  }
  *ip = found;
  return true;
}
