#include "tests/support/login_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/wait.h"

namespace {

constexpr size_t kHeadLen = 12;
constexpr uint32_t kMaxData = 6000000;

uint32_t ReadBe32(const char* p) {
  auto b = reinterpret_cast<const uint8_t*>(p);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}

// A signalling packet of text and its NUL.
std::string SignalPacket(const std::string& text) {
  uint32_t len = static_cast<uint32_t>(text.size() + 1);
  char head[kHeadLen] = {0, 0, 0, 0, static_cast<char>(len >> 24), static_cast<char>(len >> 16),
                         static_cast<char>(len >> 8), static_cast<char>(len), 82, 0, 0, 0};
  std::string packet(head, kHeadLen);
  packet += text;
  packet += '\0';
  return packet;
}

}  // namespace

CLoginServer::CLoginServer(bool bAnswer) : bAnswer_(bAnswer) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listenFd_, 1024);
  socklen_t len = sizeof a;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe_[0] = wakePipe_[1] = -1;
  thread_ = std::thread([this] { Run(); });
}

CLoginServer::~CLoginServer() {
  if (write(wakePipe_[1], "x", 1) < 0) {
  }
  thread_.join();
  for (Client& c : clients_) close(c.fd);
  close(listenFd_);
  close(wakePipe_[0]);
  close(wakePipe_[1]);
}

void CLoginServer::Run() {
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign({{wakePipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}});
    for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 1000) < 0) continue;
    if (fds[0].revents) return;
    if (fds[1].revents) Accept();
    // New clients were appended after the polled ones: walk only those polled.
    size_t polled = fds.size() - 2;
    std::vector<Client> kept;
    for (size_t i = 0; i < clients_.size(); ++i) {
      if (i < polled && fds[i + 2].revents && !Serve(clients_[i])) {
        close(clients_[i].fd);
        continue;
      }
      kept.push_back(std::move(clients_[i]));
    }
    clients_.swap(kept);
  }
}

void CLoginServer::Accept() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    accepted_.fetch_add(1);
    clients_.push_back({fd, std::string()});
  }
}

bool CLoginServer::Serve(Client& c) {
  char buf[65536];
  ssize_t n = recv(c.fd, buf, sizeof buf, 0);
  if (n == 0) return false;
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  c.buffer.append(buf, static_cast<size_t>(n));
  while (c.buffer.size() >= kHeadLen) {
    uint32_t dataLen = ReadBe32(c.buffer.data() + 4);
    if (dataLen > kMaxData) return false;
    if (c.buffer.size() < kHeadLen + dataLen) break;
    std::string payload = c.buffer.substr(kHeadLen, dataLen);
    c.buffer.erase(0, kHeadLen + dataLen);
    if (c.buffer.capacity() > (1u << 20)) c.buffer.shrink_to_fit();
    OnPacket(c, payload.substr(0, payload.find('\0')));
  }
  return true;
}

void CLoginServer::OnPacket(Client& c, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(textsLock_);
    texts_.push_back(text);
  }
  if (!bAnswer_ || text.find("\"OPERATION\":\"CONNECT\"") == std::string::npos) return;
  std::string reply = SignalPacket(
      "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CONNECT\",\"RESPONSE\":{\"ERRORCODE\":0},\"SESSION\":\"\"}");
  // Loopback with a small reply: a short send would only happen when the
  // client stopped reading, and then the login is moot.
  if (send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) {
  }
}

std::vector<std::string> CLoginServer::Texts() const {
  std::lock_guard<std::mutex> lock(textsLock_);
  return texts_;
}

int32_t CLoginServer::CountContaining(const std::string& part) const {
  std::lock_guard<std::mutex> lock(textsLock_);
  int32_t n = 0;
  for (const std::string& t : texts_)
    if (t.find(part) != std::string::npos) ++n;
  return n;
}

bool CLoginServer::WaitForCount(const std::string& part, int32_t n, int timeoutMs) const {
  return WaitUntil([&] { return CountContaining(part) >= n; }, timeoutMs);
}
