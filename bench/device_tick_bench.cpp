// One Tick of a logged-in device that sends a GPS upload and every alarm
// (five messages), and DispatchSignal of a calendar request (one reply), on a
// real loopback connection whose far end drains everything.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "device/dev_q5.h"
#include "platform/debug_log.h"
#include "platform/process_init.h"
#include "platform/sleep.h"
#include "platform/tick.h"

namespace {

// Accepts connections and reads everything they send until stopped.
class DrainServer {
 public:
  DrainServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 16);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~DrainServer() {
    stop_.store(1);
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  uint16_t Port() const { return port_; }

 private:
  void Run() {
    int c = accept(fd_, nullptr, nullptr);
    if (c < 0) return;
    std::vector<char> buf(1 << 20);
    timeval tv{0, 100000};
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    while (!stop_.load()) {
      ssize_t n = recv(c, buf.data(), buf.size(), 0);
      if (n == 0) break;
    }
    close(c);
  }
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<int32_t> stop_{0};
  std::thread thread_;
};

void ConnectDevice(CDevQ5& dev, uint16_t port) {
  dev.SetId("BENCH-0001");
  dev.SetServer("127.0.0.1", port);
  dev.ConnectReg();
  while (!dev.Session().Socket().IsConnected()) SleepMs(1);
  dev.Session().SetOnlineFlag(1);
}

void BM_TickGpsAndAllAlarms(benchmark::State& state) {
  ProcessStartup();
  SetDebugEnabled(false);
  DrainServer server;
  CDevQ5 dev;
  DeviceProperties props;
  props.bGps = 1;
  props.bAutoUpload = 1;
  props.nUploadInterval = 10;
  dev.SetProperties(props);
  ConnectDevice(dev, server.Port());
  for (auto _ : state) {
    // Make every period due: the stamps lie 20 s in the past.
    uint32_t past = GetTickCount() - 20000;
    dev.Schedule().SetStamps(past, past, past);
    dev.Tick();
  }
  state.counters["messages/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 6,
                                                    benchmark::Counter::kIsRate);
  dev.Shutdown();
  SetDebugEnabled(true);
}
BENCHMARK(BM_TickGpsAndAllAlarms);

void BM_DispatchCalendarRequest(benchmark::State& state) {
  ProcessStartup();
  SetDebugEnabled(false);
  DrainServer server;
  CDevQ5 dev;
  ConnectDevice(dev, server.Port());
  const char text[] = "{\"MODULE\":\"STORM\",\"OPERATION\":\"GETCALENDAR\",\"PARAMETER\":{\"SERIAL\":7}}";
  for (auto _ : state) dev.Session().DispatchSignal(text, sizeof text);
  state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
  dev.Shutdown();
  SetDebugEnabled(true);
}
BENCHMARK(BM_DispatchCalendarRequest);

}  // namespace

BENCHMARK_MAIN();
