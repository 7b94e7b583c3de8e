// One share group under load. 60 devices fill one 64-socket group (their
// signalling connections, and the media connections below) against an
// in-process zel-server. Device G-00 is asked for a download again and again
// (each one is set up with a pause before its connection); G-01 streams live
// to a peer that never reads. The other devices are asked for their version
// info in rounds, and the server measures how long each reply took. The same
// rounds run first at rest. Then devices are deleted while all this goes on
// (an answering one, the downloading one, the stalled streamer) and each
// delete is timed.
//
// Prints the reply delays (50th and 99th percentile, worst) at rest and under
// load and the delete times; exits 1 when the 99th percentile under load
// passes 50 ms or a delete takes 1 s or more.
//   group_latency_check [rounds]   (default 25, one round every 200 ms)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/dev_q5.h"
#include "media/frame_synth.h"
#if __has_include("media/stream_set.h")
#include "media/stream_set.h"
#define ZEL_HAS_STREAM_SET 1
#endif
#include "platform/debug_log.h"
#include "platform/process_init.h"
#include "tools/server/test_server.h"

namespace {

constexpr int kDevices = 60;
constexpr int kFirstAnswering = 2;  // G-00 downloads, G-01 streams to the stalled peer
constexpr int kRoundMs = 200;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string Id(int i) {
  char buf[16];
  snprintf(buf, sizeof buf, "G-%02d", i);
  return buf;
}

// A peer that accepts media connections and never reads from them.
class CStalledPeer {
 public:
  bool Start() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) return false;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    thread = std::thread([this] {
      while (!stop.load()) {
        int c = accept(fd, nullptr, nullptr);
        if (c >= 0) held.push_back(c);
      }
    });
    return true;
  }
  void Stop() {
    stop.store(true);
    shutdown(fd, SHUT_RDWR);
    thread.join();
    for (int c : held) close(c);
    close(fd);
  }
  uint16_t port = 0;

 private:
  int fd = -1;
  std::atomic<bool> stop{false};
  std::thread thread;
  std::vector<int> held;
};

// Reply delays of GETDEVVERSIONINFO found in the server's lines from index
// *pSeen on ("reply SERIAL=n GETDEVVERSIONINFO from ID after N ms: ...").
void CollectDelays(CTestServer& srv, size_t* pSeen, std::vector<int>& delays) {
  std::vector<std::string> lines = srv.Lines();
  for (; *pSeen < lines.size(); ++*pSeen) {
    const std::string& l = lines[*pSeen];
    size_t at = l.find(" after ");
    if (l.rfind("reply ", 0) != 0 || l.find("GETDEVVERSIONINFO") == std::string::npos || at == std::string::npos)
      continue;
    delays.push_back(atoi(l.c_str() + at + 7));
  }
}

// Rounds of version queries to the answering devices; returns the delays.
std::vector<int> QueryRounds(CTestServer& srv, int rounds, int firstDevice, const std::vector<bool>& gone) {
  std::vector<int> delays;
  size_t seen = srv.Lines().size();
  int asked = 0;
  for (int r = 0; r < rounds; ++r) {
    int64_t start = NowMs();
    for (int i = firstDevice; i < kDevices; ++i) {
      if (gone[static_cast<size_t>(i)]) continue;
      srv.Command("version " + Id(i));
      ++asked;
    }
    CollectDelays(srv, &seen, delays);
    int64_t left = kRoundMs - (NowMs() - start);
    if (left > 0) SleepMs(static_cast<int>(left));
  }
  for (int64_t end = NowMs() + 5000; static_cast<int>(delays.size()) < asked && NowMs() < end; SleepMs(20))
    CollectDelays(srv, &seen, delays);
  if (static_cast<int>(delays.size()) < asked) printf("  %d of %d replies missing\n", asked - static_cast<int>(delays.size()), asked);
  return delays;
}

int Percentile(std::vector<int> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  size_t k = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(k, v.size() - 1)];
}

void Report(const char* what, const std::vector<int>& d) {
  printf("%-28s replies %5zu   p50 %4d ms   p99 %4d ms   max %4d ms\n", what, d.size(), Percentile(d, 0.5),
         Percentile(d, 0.99), d.empty() ? -1 : *std::max_element(d.begin(), d.end()));
}

// Shutdown and destruction, as the fleet deletes a device.
int64_t TimedDelete(std::unique_ptr<CDevQ5>& dev) {
  int64_t t0 = NowMs();
  dev->Shutdown();
  dev.reset();
  return NowMs() - t0;
}

std::string LiveToStalledPeer(uint16_t port) {
  return "send " + Id(1) +
         " {\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTALIVEVIDEO\",\"PARAMETER\":{\"CHANNEL\":1,"
         "\"IPANDPORT\":\"127.0.0.1:" + std::to_string(port) + "\",\"SERIAL\":900000,\"STREAMNAME\":\"stalled\"}}";
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 25;
  if (rounds < 1) rounds = 25;
  ProcessStartup();
  SetDebugEnabled(false);
#ifdef ZEL_HAS_STREAM_SET
  InstallMediaStreams();
#endif
  char dir[] = "/tmp/zel-group-XXXXXX";
  if (!mkdtemp(dir)) return 2;
  std::string frames = std::string(dir) + "/frames.bin";
  CFrameFileWriter w;
  SynthOptions opt;
  opt.nSeconds = 20;
  if (!w.Create(frames.c_str()) || WriteSynthFrames(w, opt) < 0 || !w.Close()) return 2;

  ServerOptions so = CTestServer::TestOptions();
  so.bQuiet = true;
  CTestServer srv(so);
  CStalledPeer stalled;
  if (!srv.Start() || !stalled.Start()) return 2;
  std::vector<std::unique_ptr<CDevQ5>> devs;
  for (int i = 0; i < kDevices; ++i) {
    devs.push_back(std::make_unique<CDevQ5>());
    devs.back()->SetId(Id(i).c_str());
    devs.back()->SetServer("127.0.0.1", srv.Port());
    devs.back()->SetFramePath(frames.c_str());
    devs.back()->ConnectReg();
  }
  for (int64_t end = NowMs() + 10000; srv.Stats().nLoggedIn < kDevices && NowMs() < end;) SleepMs(20);
  printf("group_latency_check: %d devices in one share group, %llu logged in, %d rounds of %d queries\n", kDevices,
         static_cast<unsigned long long>(srv.Stats().nLoggedIn), rounds, kDevices - kFirstAnswering);

  std::vector<bool> gone(kDevices, false);
  std::vector<int> rest = QueryRounds(srv, rounds, kFirstAnswering, gone);
  srv.Command(LiveToStalledPeer(stalled.port));
  std::atomic<bool> stopDownloads{false};
  std::thread downloads([&] {
    while (!stopDownloads.load()) {
      srv.Command("download " + Id(0));
      SleepMs(1500);
    }
  });
  SleepMs(1500);  // the stalled stream fills its buffers meanwhile
  std::vector<int> load = QueryRounds(srv, rounds, kFirstAnswering, gone);

  ServerStats during = srv.Stats();
  int64_t delAnswering = TimedDelete(devs[5]);
  gone[5] = true;
  int64_t delDownloading = TimedDelete(devs[0]);
  stopDownloads.store(true);
  downloads.join();
  int64_t delStalled = TimedDelete(devs[1]);

  printf("under load: %llu media connections at the server so far, %llu media bytes received\n",
         static_cast<unsigned long long>(during.nAccepted - kDevices),
         static_cast<unsigned long long>(during.nMediaBytes));
  Report("at rest", rest);
  Report("download + stalled stream", load);
  printf("delete: answering device %lld ms, downloading device %lld ms, device streaming to a stalled peer %lld ms\n",
         static_cast<long long>(delAnswering), static_cast<long long>(delDownloading),
         static_cast<long long>(delStalled));
  devs.clear();
  srv.Stop();
  stalled.Stop();
  unlink(frames.c_str());
  rmdir(dir);
  bool ok = Percentile(load, 0.99) >= 0 && Percentile(load, 0.99) <= 50 && delAnswering < 1000 &&
            delDownloading < 1000 && delStalled < 1000;
  printf("%s\n", ok ? "PASS" : "FAIL (targets: p99 under load at most 50 ms, every delete under 1000 ms)");
  return ok ? 0 : 1;
}
