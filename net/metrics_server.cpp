#include "net/metrics_server.h"

#include "net/socket_setup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t kMaxRequest = 8192;
constexpr uint32_t kClientTimeoutMs = 5000;

std::string Response(const char* status, const std::string& type, const std::string& body) {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
}  // namespace

CMetricsServer::~CMetricsServer() { Stop(); }

bool CMetricsServer::ParseAddress(const std::string& text, std::string* host, uint16_t* port, std::string* why) {
  size_t colon = text.rfind(':');
  std::string h = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  std::string p = colon == std::string::npos ? text : text.substr(colon + 1);
  in_addr addr{};
  char* end = nullptr;
  long v = p.empty() ? -1 : strtol(p.c_str(), &end, 10);
  if (inet_pton(AF_INET, h.c_str(), &addr) != 1 || v < 0 || v > 65535 || (end && *end)) {
    *why = "bad metrics address " + text + " (HOST:PORT with a dotted IPv4 host, or PORT)";
    return false;
  }
  *host = h;
  *port = static_cast<uint16_t>(v);
  return true;
}

bool CMetricsServer::Listen(const std::string& hostPort, std::string* why) {
  std::string host;
  uint16_t port = 0;
  if (!ParseAddress(hostPort, &host, &port, why)) return false;
  std::string error;
  int fd = OpenListener(host, port, &error);
  uint16_t bound = fd >= 0 ? LocalPort(fd) : 0;
  if (fd < 0 || bound == 0) {
    int err = errno;
    if (fd >= 0) close(fd);
    *why = "cannot listen for metrics on " + hostPort + " (" + strerror(err) + ")";
    return false;
  }
  nListenFd = fd;
  nPort = bound;
  return true;
}

bool CMetricsServer::Attach(CEventLoop& loop, const std::string& hostPort, Provider p, std::string* why) {
  if (!Listen(hostPort, why)) return false;
  pLoop = &loop;
  provider = std::move(p);
  pLoop->Watch(nListenFd, EPOLLIN, [this](uint32_t) { OnAcceptable(); });
  return true;
}

bool CMetricsServer::Start(const std::string& hostPort, Provider p, std::string* why) {
  ownLoop = std::make_unique<CEventLoop>();
  if (!ownLoop->Ok() || !Attach(*ownLoop, hostPort, std::move(p), why)) {
    if (why->empty()) *why = "cannot make an event loop for the metrics";
    ownLoop.reset();
    return false;
  }
  thread = std::thread([this] { ownLoop->Run(); });
  return true;
}

void CMetricsServer::Stop() {
  if (!pLoop) return;
  auto closeAll = [this] {
    while (!clients.empty()) CloseClient(clients.begin()->first);
    pLoop->Unwatch(nListenFd);
    close(nListenFd);
    nListenFd = -1;
  };
  if (ownLoop) {
    ownLoop->Post(closeAll);
    ownLoop->Quit();
    thread.join();
    ownLoop.reset();
  } else {
    closeAll();
  }
  pLoop = nullptr;
}

void CMetricsServer::OnAcceptable() {
  for (;;) {
    int fd = AcceptConnection(nListenFd, nullptr);
    if (fd < 0) return;
    Client& c = clients[fd];
    c.fd = fd;
    c.nTimer = pLoop->AddTimer(kClientTimeoutMs, 0, [this, fd] { CloseClient(fd); });
    pLoop->Watch(fd, EPOLLIN, [this, fd](uint32_t ev) { OnClient(fd, ev); });
  }
}

void CMetricsServer::OnClient(int fd, uint32_t events) {
  auto it = clients.find(fd);
  if (it == clients.end()) return;
  Client& c = it->second;
  if (!c.out.empty() && (events & EPOLLOUT)) return Answer(c);
  char buf[2048];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  if (n <= 0) {
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    return CloseClient(fd);
  }
  c.in.append(buf, static_cast<size_t>(n));
  if (c.in.size() > kMaxRequest) return CloseClient(fd);
  if (c.in.find("\r\n\r\n") == std::string::npos) return;
  bool bMetrics = c.in.rfind("GET /metrics ", 0) == 0 || c.in.rfind("GET /metrics?", 0) == 0;
  c.out = bMetrics ? Response("200 OK", "text/plain; version=0.0.4; charset=utf-8", provider())
                   : Response("404 Not Found", "text/plain", "not found; try /metrics\n");
  pLoop->Modify(fd, EPOLLOUT);
  Answer(c);
}

// Sends what the socket takes; the rest waits for EPOLLOUT.
void CMetricsServer::Answer(Client& c) {
  while (!c.out.empty()) {
    ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) break;
    c.out.erase(0, static_cast<size_t>(n));
  }
  CloseClient(c.fd);
}

void CMetricsServer::CloseClient(int fd) {
  auto it = clients.find(fd);
  if (it == clients.end()) return;
  pLoop->CancelTimer(it->second.nTimer);
  pLoop->Unwatch(fd);
  close(fd);
  clients.erase(it);
}
