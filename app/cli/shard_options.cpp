#include "app/cli/shard_options.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>

#include "app/cli/cli_core.h"

namespace {

// True when a TCP socket can be bound to addr (host order) with any port.
bool CanBind(uint32_t addr, std::string* why) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return *why = strerror(errno), false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr);
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  if (!ok) *why = strerror(errno);
  close(fd);
  return ok;
}

}  // namespace

void AddShardOptions(CLI::App& app, ShardOptions& options) {
  app.add_option("--shard", options.szShard,
                 "Be shard I (from 0) of N processes: add BASE COUNT numbers its devices from I x COUNT + 1, "
                 "so that N shards make one fleet of consecutive IDs")
      ->type_name("I/N");
  app.add_option("--ifaddr", options.ifaddrs,
                 "Local IPv4 addresses the devices' connections leave from, given round robin as they go online")
      ->delimiter(',')
      ->type_name("A[,B...]");
}

bool CheckShardOptions(ShardOptions& options, std::string* why) {
  if (!options.szShard.empty()) {
    size_t slash = options.szShard.find('/');
    int32_t index = -1, count = 0;
    if (slash == std::string::npos || !ParseInt32(options.szShard.substr(0, slash), index) ||
        !ParseInt32(options.szShard.substr(slash + 1), count) || count < 1 || count > 100000 || index < 0 ||
        index >= count)
      return *why = "--shard " + options.szShard + ": expected I/N with 0 <= I < N <= 100000", false;
    options.nIndex = index;
    options.nCount = count;
  }
  for (const std::string& text : options.ifaddrs) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1 || a.s_addr == 0)
      return *why = "--ifaddr " + text + " is not an IPv4 address of this machine", false;
    std::string reason;
    if (!CanBind(ntohl(a.s_addr), &reason))
      return *why = "--ifaddr " + text + " cannot be used as a source address: " + reason, false;
    options.sourceAddrs.push_back(ntohl(a.s_addr));
  }
  return true;
}
