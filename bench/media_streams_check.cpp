// Media streaming capacity on loopback, devices and receiver in one process.
//  1. Live view: N concurrent streams at 25 frames a second with 4 channels
//     each; the receiver measures how late every channel-0 chunk arrives
//     against its time stamp (relative to the stream's first chunk). A level
//     is sustained while the 99th percentile stays under 250 ms and no stream
//     ends more than 500 ms behind. Levels double up to 320 streams, then
//     grow by 160.
//  2. Download: time for the 3,750 packets of one download, against a plain
//     loop of 3,750 sends of 8,012 bytes on the same kind of connection.
// Usage: media_streams_check [seconds-per-level] [max-streams]
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/dev_q5.h"
#include "media/frame_synth.h"
#include "net/json_read.h"
#include "net/json_writer.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/process_init.h"
#include "platform/sleep.h"

namespace {

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What the receiver learnt about one media connection.
struct StreamStats {
  std::vector<int64_t> arrivalUs;  // channel-0 live chunks
  std::vector<int64_t> mediaUs;    // their time stamps
  int64_t nDownloadPackets = 0;
  int64_t tFirstUs = 0;
  int64_t tLastUs = 0;
};

// One connection as the receiver sees it.
struct SinkConn {
  int fd = -1;
  std::vector<uint8_t> buf;
  size_t nHave = 0;
  std::string szDsno;
  int32_t nStats = -1;  // index into the stats, media connections only
  bool bClosed = false;
};

// A receiver for everything: answers CONNECT and CREATESTREAM, discards media
// and keeps timings. One poll thread; the owner talks to it under its lock.
class CSink {
 public:
  bool Start() {
    listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listenFd, 1024) != 0) return false;
    socklen_t len = sizeof a;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    nPort = ntohs(a.sin_port);
    thread = std::thread([this] { Run(); });
    return true;
  }
  void Stop() {
    bStop.store(1);
    thread.join();
    for (auto& c : conns) close(c->fd);
    close(listenFd);
  }
  uint16_t Port() const { return nPort; }
  // Sends a JSON message on the signalling connection of dsno; false when unknown.
  bool SendTo(const std::string& dsno, const Json::Value& v) {
    std::lock_guard<std::mutex> lock(mu);
    for (auto& c : conns) {
      if (c->szDsno == dsno) return SendPacket(c->fd, v);
    }
    return false;
  }
  std::vector<StreamStats> TakeStats() {
    std::lock_guard<std::mutex> lock(mu);
    std::vector<StreamStats> out = std::move(stats);
    stats.clear();
    for (auto& c : conns) c->nStats = -1;
    return out;
  }
  int32_t StatsCount() {
    std::lock_guard<std::mutex> lock(mu);
    return static_cast<int32_t>(stats.size());
  }
  int64_t DownloadPackets(int32_t i) {
    std::lock_guard<std::mutex> lock(mu);
    return i < static_cast<int32_t>(stats.size()) ? stats[static_cast<size_t>(i)].nDownloadPackets : 0;
  }
  // A plain connection counts as a media connection from its first packet.
  void ExpectPlain() { bPlainNext.store(1); }

 private:
  static bool SendPacket(int fd, const Json::Value& v) {
    std::string text = WriteCompactJson(v);
    std::vector<uint8_t> pkt(12 + text.size() + 1);
    WritePacketHead(pkt.data(), NTYPE_SIGNAL, 0, static_cast<int32_t>(text.size() + 1));
    memcpy(pkt.data() + 12, text.c_str(), text.size() + 1);
    return send(fd, pkt.data(), pkt.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(pkt.size());
  }
  static Json::Value Answer(const char* op) {
    Json::Value v;
    v["MODULE"] = "CERTIFICATE";
    v["OPERATION"] = op;
    v["RESPONSE"]["ERRORCODE"] = 0;
    v["SESSION"] = "";
    return v;
  }

  void Run() {
    std::vector<pollfd> fds;
    std::vector<SinkConn*> polled;
    std::vector<uint8_t> chunk(1 << 20);
    while (!bStop.load()) {
      fds.assign(1, pollfd{listenFd, POLLIN, 0});
      polled.clear();
      {
        std::lock_guard<std::mutex> lock(mu);
        for (auto& c : conns) {
          fds.push_back({c->fd, POLLIN, 0});
          polled.push_back(c.get());
        }
      }
      if (poll(fds.data(), fds.size(), 100) <= 0) continue;
      if (fds[0].revents) Accept();
      for (size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents) ReadConn(*polled[i - 1], chunk);
      }
      Sweep();
    }
  }
  void Accept() {
    int fd = accept(listenFd, nullptr, nullptr);
    if (fd < 0) return;
    auto c = std::make_unique<SinkConn>();
    c->fd = fd;
    c->buf.resize(1 << 21);
    std::lock_guard<std::mutex> lock(mu);
    if (bPlainNext.exchange(0)) c->nStats = NewStats();
    conns.push_back(std::move(c));
  }
  int32_t NewStats() {
    stats.emplace_back();
    return static_cast<int32_t>(stats.size() - 1);
  }
  void ReadConn(SinkConn& c, std::vector<uint8_t>& chunk) {
    ssize_t n = recv(c.fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (n <= 0) {
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) c.bClosed = true;
      return;
    }
    Feed(c, chunk.data(), static_cast<size_t>(n));
  }
  // Connections the peer closed are dropped after the pass that saw it.
  void Sweep() {
    std::lock_guard<std::mutex> lock(mu);
    for (size_t i = 0; i < conns.size();) {
      if (conns[i]->bClosed) {
        close(conns[i]->fd);
        conns.erase(conns.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
  }
  // Appends and handles every whole packet (media packets are at most 1 MB here).
  void Feed(SinkConn& c, const uint8_t* data, size_t n) {
    if (c.nHave + n > c.buf.size()) c.buf.resize(c.nHave + n);
    memcpy(c.buf.data() + c.nHave, data, n);
    c.nHave += n;
    size_t pos = 0;
    int64_t now = NowUs();
    while (c.nHave - pos >= 12) {
      PacketInfo info;
      if (!ParsePacketHead(c.buf.data() + pos, &info)) {
        c.nHave = pos = 0;
        return;
      }
      if (c.nHave - pos < static_cast<size_t>(info.nPacketLen)) break;
      OnPacket(c, c.buf.data() + pos, info, now);
      pos += static_cast<size_t>(info.nPacketLen);
    }
    memmove(c.buf.data(), c.buf.data() + pos, c.nHave - pos);
    c.nHave -= pos;
  }
  void OnPacket(SinkConn& c, const uint8_t* p, const PacketInfo& info, int64_t now) {
    std::lock_guard<std::mutex> lock(mu);
    if (info.nType == NTYPE_SIGNAL) {
      Json::Value v;
      const char* text = reinterpret_cast<const char*>(p + info.nHeadLen);
      JsonParse(text, text + strnlen(text, static_cast<size_t>(info.nDataLen)), v);
      std::string op = JsonText(JsonMember(v, "OPERATION"));
      if (op == "CONNECT") {
        c.szDsno = JsonText(JsonMember(JsonMember(v, "PARAMETER"), "DSNO"));
        SendPacket(c.fd, Answer("CONNECT"));
      } else if (op == "CREATESTREAM") {
        c.nStats = NewStats();
        SendPacket(c.fd, Answer("CREATESTREAM"));
      }
      return;
    }
    if (c.nStats < 0) return;
    StreamStats& s = stats[static_cast<size_t>(c.nStats)];
    if (info.nType == NTYPE_LIVE && info.nChannel == 0 && info.nDataLen >= 24) {
      uint64_t ts = 0;
      memcpy(&ts, p + 12 + 16, 8);
      s.arrivalUs.push_back(now);
      s.mediaUs.push_back(static_cast<int64_t>(ts));
    } else if (info.nType == NTYPE_DOWNLOAD) {
      if (s.nDownloadPackets++ == 0) s.tFirstUs = now;
      s.tLastUs = now;
    }
  }

  int listenFd = -1;
  uint16_t nPort = 0;
  std::atomic<int32_t> bStop{0};
  std::atomic<int32_t> bPlainNext{0};
  std::thread thread;
  std::mutex mu;
  std::vector<std::unique_ptr<SinkConn>> conns;
  std::vector<StreamStats> stats;
};

// prefix, a number, '_' and a second number: "B40_1".
std::string Name(const char* prefix, int32_t a, int32_t b) {
  char text[96];
  snprintf(text, sizeof text, "%s%d_%d", prefix, a, b);
  return text;
}

std::unique_ptr<CDevQ5> NewDevice(CSink& sink, const std::string& id, const std::string& frames) {
  auto dev = std::make_unique<CDevQ5>();
  dev->SetId(id.c_str());
  dev->SetServer("127.0.0.1", sink.Port());
  dev->SetFramePath(frames.c_str());
  dev->ConnectReg();
  for (int i = 0; i < 500 && !dev->IsOnline(); ++i) SleepMs(10);
  return dev;
}

Json::Value MediaRequest(const char* op, const std::string& name, uint16_t port, int channel) {
  Json::Value req;
  req["MODULE"] = "MEDIASTREAMMODEL";
  req["OPERATION"] = op;
  req["PARAMETER"]["STREAMNAME"] = name;
  char addr[32];
  snprintf(addr, sizeof addr, "127.0.0.1:%u", static_cast<unsigned>(port));
  req["PARAMETER"]["IPANDPORT"] = addr;
  req["PARAMETER"]["CHANNEL"] = channel;
  req["PARAMETER"]["SERIAL"] = 1;
  return req;
}

struct LiveResult {
  int32_t nStreams = 0;
  double p50Ms = 0, p99Ms = 0, maxMs = 0, worstEndMs = 0;
  double chunksPerSecond = 0;  // channel 0, mean over the streams of each one's own span
};

// Lateness of each chunk: arrival after the stream's first chunk minus media
// time after it. Chunks of the first second are left out (start-up).
LiveResult Analyse(const std::vector<StreamStats>& stats, int32_t nStreams) {
  LiveResult r;
  r.nStreams = nStreams;
  std::vector<double> all;
  double rateSum = 0;
  for (const StreamStats& s : stats) {
    if (s.arrivalUs.size() < 2 || s.arrivalUs.back() == s.arrivalUs.front()) continue;
    rateSum += static_cast<double>(s.arrivalUs.size() - 1) * 1e6 /
               static_cast<double>(s.arrivalUs.back() - s.arrivalUs.front());
    double last = 0;
    for (size_t k = 0; k < s.arrivalUs.size(); ++k) {
      if (s.arrivalUs[k] - s.arrivalUs[0] < 1000000) continue;
      last = static_cast<double>((s.arrivalUs[k] - s.arrivalUs[0]) - (s.mediaUs[k] - s.mediaUs[0])) / 1000.0;
      all.push_back(last);
    }
    r.worstEndMs = std::max(r.worstEndMs, last);
  }
  if (all.empty()) return r;
  std::sort(all.begin(), all.end());
  r.p50Ms = all[all.size() / 2];
  r.p99Ms = all[all.size() * 99 / 100];
  r.maxMs = all.back();
  r.chunksPerSecond = rateSum / nStreams;
  return r;
}

LiveResult RunLive(CSink& sink, int32_t nStreams, int32_t seconds, const std::string& frames) {
  constexpr int32_t kPerDevice = 25;
  std::vector<std::unique_ptr<CDevQ5>> devices;
  for (int32_t d = 0; d * kPerDevice < nStreams; ++d) {
    std::string id = Name("B", nStreams, d);
    devices.push_back(NewDevice(sink, id, frames));
    for (int32_t k = 0; k < kPerDevice && d * kPerDevice + k < nStreams; ++k) {
      sink.SendTo(id, MediaRequest("REQUESTALIVEVIDEO", Name(id.c_str(), k, 0), sink.Port(), 15));
    }
  }
  SleepMs(static_cast<uint32_t>(seconds) * 1000u);
  std::vector<StreamStats> stats = sink.TakeStats();
  for (auto& dev : devices) dev->Shutdown();
  devices.clear();
  LiveResult r = Analyse(stats, nStreams);
  if (static_cast<int32_t>(stats.size()) < nStreams) r.nStreams = static_cast<int32_t>(stats.size());
  return r;
}

double DownloadSeconds(CSink& sink, const std::string& frames, int run) {
  std::string id = Name("DL", run, 0);
  auto dev = NewDevice(sink, id, frames);
  int32_t index = sink.StatsCount();
  sink.SendTo(id, MediaRequest("REQUESTDOWNLOADVIDEO", id, sink.Port(), 1));
  for (int i = 0; i < 3000 && sink.DownloadPackets(index) < 3750; ++i) SleepMs(10);
  dev->Shutdown();
  std::vector<StreamStats> stats = sink.TakeStats();
  const StreamStats& s = stats.at(static_cast<size_t>(index));
  return s.nDownloadPackets == 3750 ? static_cast<double>(s.tLastUs - s.tFirstUs) / 1e6 : -1;
}

double PlainLoopSeconds(CSink& sink) {
  CMySocket sock;
  SocketParam p;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = DEV_MEDIA_MAX_BUF;
  p.nRemoteIp = 0x7F000001;
  p.nRemotePort = sink.Port();
  sink.ExpectPlain();
  int32_t index = sink.StatsCount();
  if (sock.Open(p) != 0) return -1;
  for (int i = 0; i < 500 && !sock.IsConnected(); ++i) SleepMs(10);
  std::vector<uint8_t> pkt(8012, 0);
  WritePacketHead(pkt.data(), NTYPE_DOWNLOAD, 0, 8000);
  for (int i = 0; i < 3750; ++i) sock.Send(pkt.data(), 8012, 1000);
  for (int i = 0; i < 3000 && sink.DownloadPackets(index) < 3750; ++i) SleepMs(10);
  sock.Close();
  std::vector<StreamStats> stats = sink.TakeStats();
  const StreamStats& s = stats.at(static_cast<size_t>(index));
  return s.nDownloadPackets == 3750 ? static_cast<double>(s.tLastUs - s.tFirstUs) / 1e6 : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int32_t seconds = argc > 1 ? atoi(argv[1]) : 8;
  int32_t maxStreams = argc > 2 ? atoi(argv[2]) : 960;
  ProcessStartup();
  SetDebugEnabled(false);
  std::string frames = Name("/tmp/zel-media-bench-", static_cast<int32_t>(getpid()), 0);
  {
    CFrameFileWriter out;
    SynthOptions opt;
    opt.nSeconds = seconds + 30;  // never loops during a level
    opt.nSize = 10000;            // about 2 Mbit/s per channel
    if (!out.Create(frames.c_str()) || WriteSynthFrames(out, opt) < 0 || !out.Close()) return 1;
  }
  CSink sink;
  if (!sink.Start()) return 1;
  printf("live view: 25 fps, 10 kB chunks, 4 channels per stream, %d s per level\n", seconds);
  printf("%8s %10s %9s %9s %9s %12s %s\n", "streams", "chunks/s", "p50 ms", "p99 ms", "max ms", "worst end", "verdict");
  for (int32_t n = 10; n <= maxStreams; n = n < 320 ? 2 * n : n + 160) {
    LiveResult r = RunLive(sink, n, seconds, frames);
    bool ok = r.nStreams == n && r.p99Ms < 250 && r.worstEndMs < 500 && r.chunksPerSecond > 23;
    printf("%8d %10.1f %9.1f %9.1f %9.1f %12.1f %s\n", r.nStreams, r.chunksPerSecond, r.p50Ms, r.p99Ms, r.maxMs,
           r.worstEndMs, ok ? "sustained" : "falls behind");
    fflush(stdout);
    if (!ok) break;
  }
  std::vector<double> dl, plain;
  for (int run = 0; run < 3; ++run) {
    dl.push_back(DownloadSeconds(sink, frames, run));
    plain.push_back(PlainLoopSeconds(sink));
  }
  double d = Median(dl), p = Median(plain);
  printf("download of 30,000,000 bytes: median %.3f s (%.0f MB/s)\n", d, 30.0 / d);
  printf("plain loop of 3,750 x 8,012-byte sends: median %.3f s (%.0f MB/s)\n", p, 30.0 / p);
  printf("download / plain throughput ratio: %.2f\n", p / d);
  sink.Stop();
  unlink(frames.c_str());
  return 0;
}
