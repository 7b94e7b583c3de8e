#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// --shard I/N and --ifaddr A[,B...]: one process's part of a fleet spread over
// several processes and source addresses.
struct ShardOptions {
  std::string szShard;                // "I/N" as given; empty: not a shard
  std::vector<std::string> ifaddrs;   // --ifaddr, split at commas
  int32_t nIndex = -1;                // I, once checked
  int32_t nCount = 0;                 // N, once checked
  std::vector<uint32_t> sourceAddrs;  // host order, once checked
};

void AddShardOptions(CLI::App& app, ShardOptions& options);

// Checks what the parser could not: I/N with 0 <= I < N, and that every
// --ifaddr is an IPv4 address of this machine (one a socket can bind). False
// with the reason in *why.
bool CheckShardOptions(ShardOptions& options, std::string* why);
