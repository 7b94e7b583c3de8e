#pragma once
// Small pieces the raw epoll clients of bench/ (the floors and the server
// load check) share: reading what a non-blocking socket has, framing packets,
// device IDs of add batches, and the reset of a connection.
#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "net/packet.h"

// Appends everything the non-blocking socket fd has now to in. False when
// the peer closed the connection or it failed (the caller drops it).
inline bool RecvAvailable(int fd, std::string& in) {
  char buf[16384];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      in.append(buf, static_cast<size_t>(n));
      continue;
    }
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

// Hands every whole packet at the front of in to onPacket(info, packet) and
// removes them; stops at a head that is not acceptable, or when onPacket
// returns false (the rest stays in in).
template <typename F>
void TakePackets(std::string& in, F&& onPacket) {
  PacketInfo info;
  size_t pos = 0;
  while (in.size() - pos >= static_cast<size_t>(PACKET_HEAD_LEN) &&
         ParsePacketHead(reinterpret_cast<const uint8_t*>(in.data() + pos), &info) &&
         in.size() - pos >= static_cast<size_t>(info.nPacketLen)) {
    const char* packet = in.data() + pos;
    pos += static_cast<size_t>(info.nPacketLen);
    if (!onPacket(info, packet)) break;
  }
  in.erase(0, pos);
}

// The text of a type-0 packet, up to its first NUL.
inline std::string_view SignalText(const PacketInfo& info, const char* packet) {
  const char* text = packet + info.nHeadLen;
  const void* nul = memchr(text, 0, static_cast<size_t>(info.nDataLen));
  return {text, nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : static_cast<size_t>(info.nDataLen)};
}

// "A:3,B:1" -> A-0001 A-0002 A-0003 B (a count of 1 is the base itself), as
// zel-cli's add names devices. False for an item without ":COUNT" or with a
// count outside 1 to 9999, or when no ID results.
inline bool ParseBatches(const char* text, std::vector<std::string>& ids) {
  std::string s = text;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t comma = s.find(',', pos);
    std::string item = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    size_t colon = item.rfind(':');
    if (colon == std::string::npos) return false;
    int count = atoi(item.c_str() + colon + 1);
    if (count <= 0 || count > 9999) return false;
    std::string base = item.substr(0, colon);
    for (int i = 0; i < count; ++i) {
      char suffix[16];
      snprintf(suffix, sizeof suffix, "-%04d", i + 1);
      ids.push_back(count == 1 ? base : base + suffix);
    }
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return !ids.empty();
}

// Resets and closes fd as a device's Close does (no lingering).
inline void ResetConnection(int fd) {
  linger off{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  shutdown(fd, SHUT_RDWR);
  close(fd);
}
