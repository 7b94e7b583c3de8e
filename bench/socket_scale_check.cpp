// Opens many connect-mode sockets to a local listener, waits until every one
// reports SOCK_EVENT_CONNECTED, then closes them all, and reports the times,
// the number of share threads and the peak resident memory.
//   socket_scale_check [--sockets N]   (default 5000)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "net/my_socket.h"
#include "net/share_table.h"
#include "platform/debug_log.h"
#include "platform/process_init.h"

namespace {

std::atomic<int32_t> g_connected{0};

int OnEvent(void*, uint8_t*, int32_t, uint32_t, int32_t, int32_t event) {
  if (event == SOCK_EVENT_CONNECTED) g_connected.fetch_add(1);
  return 0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Accepts every connection and keeps it open until told to stop.
struct Listener {
  int fd = -1;
  uint16_t port = 0;
  std::atomic<int32_t> stop{0};
  std::vector<int> accepted;
  std::thread thread;

  bool Start() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4096) != 0) return false;
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    timeval tv{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    thread = std::thread([this] {
      while (!stop.load()) {
        int c = accept(fd, nullptr, nullptr);
        if (c >= 0) accepted.push_back(c);
      }
    });
    return true;
  }
  void Stop() {
    stop.store(1);
    thread.join();
    for (int c : accepted) close(c);
    close(fd);
  }
};

}  // namespace

int main(int argc, char** argv) {
  int n = 5000;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--sockets") == 0 && i + 1 < argc) n = atoi(argv[++i]);
  }
  if (n <= 0 || n > SHARE_GROUPS * SHARE_GROUP_SIZE) {
    fprintf(stderr, "usage: socket_scale_check [--sockets 1..%d]\n", SHARE_GROUPS * SHARE_GROUP_SIZE);
    return 2;
  }
  long limit = ProcessStartup();
  SetDebugEnabled(false);
  Listener listener;
  if (!listener.Start()) {
    fprintf(stderr, "cannot listen on loopback\n");
    return 1;
  }
  printf("sockets: %d (open-file limit %ld)\n", n, limit);
  std::vector<std::unique_ptr<CMySocket>> socks;
  socks.reserve(static_cast<size_t>(n));
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    auto s = std::make_unique<CMySocket>();
    SocketParam p;
    p.nMode = SOCK_MODE_CONNECT;
    p.nMaxBuf = 60000;
    p.nRemoteIp = 0x7F000001;
    p.nRemotePort = listener.port;
    p.pfnCallback = OnEvent;
    if (s->Open(p) != 0) fprintf(stderr, "open %d failed\n", i);
    socks.push_back(std::move(s));
  }
  while (g_connected.load() < n && Seconds(t0) < 60) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  double connectSec = Seconds(t0);
  int32_t threads = ShareThreadCount();
  auto t1 = std::chrono::steady_clock::now();
  for (auto& s : socks) s->Close();
  double closeSec = Seconds(t1);
  listener.Stop();
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  printf("connected: %d of %d in %.3f s\n", g_connected.load(), n, connectSec);
  printf("share threads: %d\n", threads);
  printf("closed all in %.3f s\n", closeSec);
  printf("peak RSS: %.1f MB\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
  return g_connected.load() == n ? 0 : 1;
}
