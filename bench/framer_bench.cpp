// Receive framer throughput and the cost of building and sending one
// signalling packet.
//
// BM_FramerNapi/<packet bytes>: a stream of equal packets fed to
// CMySocket::WriteToBuffer in 60000-byte chunks (one receive's worth), with a
// callback that only counts. One iteration is one chunk.
// BM_BuildSignalPacket: BuildSignalPacket of a GPS upload message.
// BM_SendSignalPacket/<time-out ms>: SendSignalPacket of the same message on a
// CMySocket opened in connect mode to a loopback listener, whose accepted
// side a thread drains.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <json/value.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/my_socket.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/process_init.h"
#include "platform/sleep.h"

namespace {

constexpr int32_t kChunk = 60000;

int CountFrames(void* pUser, uint8_t*, int32_t, uint32_t, int32_t, int32_t) {
  ++*static_cast<int64_t*>(pUser);
  return 0;
}

// Packets of packetLen bytes, enough of them that the stream ends on a chunk
// boundary and so can be fed round and round.
std::vector<uint8_t> PacketStream(int32_t packetLen) {
  int64_t a = kChunk, b = packetLen;
  while (b) a = std::exchange(b, a % b);
  int64_t total = int64_t{kChunk} / a * packetLen;  // least common multiple
  std::vector<uint8_t> stream(static_cast<size_t>(total), 0x5A);
  for (int64_t pos = 0; pos < total; pos += packetLen) {
    WritePacketHead(stream.data() + pos, NTYPE_LIVE, 0, packetLen - PACKET_HEAD_LEN);
  }
  return stream;
}

void BM_FramerNapi(benchmark::State& state) {
  const int32_t packetLen = static_cast<int32_t>(state.range(0));
  SetDebugEnabled(false);  // the buffer's growth lines are not part of the cost
  std::vector<uint8_t> stream = PacketStream(packetLen);
  int64_t frames = 0;
  CMySocket sock;
  SocketParam p;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = 600000;
  p.pfnCallback = CountFrames;
  p.pUser = &frames;
  sock.AttachFramer(p, FRAME_NAPI);
  size_t pos = 0;
  for (auto _ : state) {
    if (sock.WriteToBuffer(stream.data() + pos, kChunk) != 0) {
      state.SkipWithError("framer refused the stream");
      break;
    }
    pos = (pos + kChunk) % stream.size();
  }
  state.SetBytesProcessed(state.iterations() * kChunk);
  state.counters["packets/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  sock.Close();
  SetDebugEnabled(true);
}
BENCHMARK(BM_FramerNapi)->Arg(1024)->Arg(8192);

// The device's GPS upload as it goes on the wire.
Json::Value GpsMessage() {
  Json::Value v(Json::objectValue);
  v["MODULE"] = "DEVEMM";
  v["OPERATION"] = "SPI";
  v["SESSION"] = "";
  v["PARAMETER"]["M"] = 1;
  Json::Value& pos = v["PARAMETER"]["P"];
  pos["V"] = 0;
  pos["J"] = "115.5598";
  pos["W"] = "25.3310";
  pos["S"] = 2000;
  pos["C"] = 5050;
  pos["T"] = "20240102030405";
  return v;
}

void BM_BuildSignalPacket(benchmark::State& state) {
  Json::Value v = GpsMessage();
  uint8_t buf[SIGNAL_PACKET_BUF];
  std::string text;
  int32_t len = 0;
  for (auto _ : state) {
    len = BuildSignalPacket(v, buf, &text);
    benchmark::DoNotOptimize(buf);
  }
  state.counters["packet_bytes"] = len;
  state.SetBytesProcessed(state.iterations() * len);
}
BENCHMARK(BM_BuildSignalPacket);

// A loopback listener whose accepted connection a thread reads and discards.
class DrainPeer {
 public:
  DrainPeer() {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(listenFd_, reinterpret_cast<sockaddr*>(&a), n);
    listen(listenFd_, 1);
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      int fd = accept(listenFd_, nullptr, nullptr);
      char buf[65536];
      while (fd >= 0 && recv(fd, buf, sizeof buf, 0) > 0) {
      }
      if (fd >= 0) close(fd);
    });
  }
  ~DrainPeer() {
    shutdown(listenFd_, SHUT_RDWR);  // wakes accept if nobody connected
    thread_.join();
    close(listenFd_);
  }
  uint16_t Port() const { return port_; }

 private:
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

void BM_SendSignalPacket(benchmark::State& state) {
  ProcessStartup();
  SetDebugEnabled(false);  // a refused send would log a line per packet
  DrainPeer peer;
  CMySocket sock;
  SocketParam p;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = 60000;
  p.nRemoteIp = INADDR_LOOPBACK;
  p.nRemotePort = peer.Port();
  if (sock.Open(p) != 0) {
    state.SkipWithError("connect failed");
    return;
  }
  for (int i = 0; i < 5000 && !sock.IsConnected(); ++i) SleepMs(1);
  Json::Value v = GpsMessage();
  const uint32_t timeoutMs = static_cast<uint32_t>(state.range(0));
  int64_t failed = 0;
  for (auto _ : state) {
    if (!SendSignalPacket(sock, v, timeoutMs, 0)) ++failed;
  }
  state.counters["failed"] = static_cast<double>(failed);
  sock.Close();  // the peer sees the close and its thread ends
  SetDebugEnabled(true);
}
BENCHMARK(BM_SendSignalPacket)->Arg(0)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
