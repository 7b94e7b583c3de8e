#include "tests/support/packet_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "net/json_read.h"

namespace {
int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
}  // namespace

bool CPacketClient::Connect(uint16_t port) { return Connect("127.0.0.1:" + std::to_string(port)); }

bool CPacketClient::Connect(const std::string& ipAndPort) {
  Close();
  size_t colon = ipAndPort.rfind(':');
  if (colon == std::string::npos) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(atoi(ipAndPort.c_str() + colon + 1)));
  if (inet_pton(AF_INET, ipAndPort.substr(0, colon).c_str(), &addr.sin_addr) != 1) return false;
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    Close();
    return false;
  }
  return true;
}

bool CPacketClient::SendRaw(const void* p, size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n > 0 && fd >= 0) {
    ssize_t w = send(fd, c, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    c += w;
    n -= static_cast<size_t>(w);
  }
  return fd >= 0;
}

bool CPacketClient::SendJson(const Json::Value& v) {
  uint8_t packet[SIGNAL_PACKET_BUF];
  std::string text;
  int32_t len = BuildSignalPacket(v, packet, &text);
  return len > 0 && SendRaw(packet, static_cast<size_t>(len));
}

bool CPacketClient::SendMedia(int32_t nType, int32_t nChannel, const std::string& payload) {
  std::string packet(PACKET_HEAD_LEN, '\0');
  WritePacketHead(reinterpret_cast<uint8_t*>(packet.data()), nType, nChannel, static_cast<int32_t>(payload.size()));
  packet += payload;
  return SendRaw(packet.data(), packet.size());
}

bool CPacketClient::Fill(int timeoutMs) {
  if (fd < 0 || bPeerClosed) return false;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  char chunk[65536];
  ssize_t n = recv(fd, chunk, sizeof chunk, 0);
  if (n <= 0) {
    bPeerClosed = true;
    return false;
  }
  buf.append(chunk, static_cast<size_t>(n));
  return true;
}

bool CPacketClient::ReadPacket(PacketInfo* info, std::string* payload, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (buf.size() >= static_cast<size_t>(PACKET_HEAD_LEN)) {
      if (!ParsePacketHead(reinterpret_cast<const uint8_t*>(buf.data()), info)) return false;
      size_t total = static_cast<size_t>(info->nPacketLen);
      if (buf.size() >= total) {
        payload->assign(buf, static_cast<size_t>(info->nHeadLen), total - static_cast<size_t>(info->nHeadLen));
        buf.erase(0, total);
        return true;
      }
    }
    if (!Fill(RemainingMs(deadline))) return false;
  }
}

bool CPacketClient::ReadJson(Json::Value* out, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  PacketInfo info;
  std::string payload;
  while (ReadPacket(&info, &payload, RemainingMs(deadline))) {
    if (info.nType != NTYPE_SIGNAL) continue;
    size_t end = payload.find('\0');
    if (end == std::string::npos) end = payload.size();
    *out = Json::Value();
    return JsonParse(payload.data(), payload.data() + end, *out);
  }
  return false;
}

bool CPacketClient::WaitClosed(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!bPeerClosed) {
    if (!Fill(RemainingMs(deadline)) && !bPeerClosed) return false;
    buf.clear();
  }
  return true;
}

void CPacketClient::Close() {
  if (fd >= 0) close(fd);
  fd = -1;
  bPeerClosed = false;
  buf.clear();
}
