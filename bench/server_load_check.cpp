// server_load_check: holds N device connections against a zel-server child
// process and measures the server's CPU and memory under the devices' steady
// traffic: every connection logs in, then sends a keep-alive every 15 s, a
// GPS upload every 10 s and four alarms every 10 s, spread evenly over the
// connections. Loopback only; it ends by itself after --duration seconds.
//
//   server_load_check [--connections N] [--duration SECONDS] [--server PATH]
//                     [--reply-to-uploads]
//
// Each process may hold only as many descriptors as the open-file limit
// allows, so the client's connections are spread over worker processes and
// N is capped to what the server process itself can hold.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_conn.h"
#include "net/packet.h"
#include "platform/exe_dir.h"
#include "platform/process_init.h"

namespace {
constexpr int LOAD_SERVER_FIXED_FDS = 10;  // standard streams, listener, epoll, wake-up, signals, spare
constexpr int LOAD_WORKER_SPARE_FDS = 16;
constexpr int LOAD_CONNECTS_IN_FLIGHT = 512;
constexpr uint64_t KEEPALIVE_MS = 15000, GPS_MS = 10000, ALARM_MS = 10000;

struct Options {
  int nConnections = 20000;
  int nDurationSec = 60;
  std::string szServer;
  bool bReplyToUploads = false;
};

struct WorkerResult {  // written whole through a pipe
  long nConnected = 0, nLoggedIn = 0, nKeepAlives = 0, nGps = 0, nAlarms = 0;
  long nKeepAliveAnswers = 0, nSendFailures = 0, nClosed = 0;
  double dCpuSec = 0;
};

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

std::string Packet(const Json::Value& v) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  std::string text;
  int32_t n = BuildSignalPacket(v, buf, &text);
  return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
}

Json::Value Envelope(const char* module, const char* op) {
  Json::Value m;
  m["SESSION"] = "";
  m["MODULE"] = module;
  m["OPERATION"] = op;
  return m;
}

std::string LoginPacket(int index) {
  char id[40];
  snprintf(id, sizeof id, "LOAD-%05d", index);
  Json::Value m = Envelope("CERTIFICATE", "CONNECT");
  m["PARAMETER"]["DSNO"] = id;
  m["PARAMETER"]["CARNUM"] = id;
  m["PARAMETER"]["CHANNEL"] = 16;
  m["PARAMETER"]["DEVCLASS"] = 4;
  return Packet(m);
}

std::string GpsPacket() {
  Json::Value m = Envelope("DEVEMM", "SPI");
  m["PARAMETER"]["M"] = 1;
  Json::Value& p = m["PARAMETER"]["P"];
  p["J"] = "113.5603", p["W"] = "22.3312", p["S"] = 2200, p["C"] = 5050, p["V"] = 0, p["T"] = "20240102030405";
  return Packet(m);
}

// The four messages of one alarm cycle: speed, customised start and end, video lost.
std::vector<std::string> AlarmPackets() {
  std::vector<std::string> out;
  const int types[4] = {8, 4, 4, 0};
  const int cmds[4] = {1, 1, 0, 1};
  for (int i = 0; i < 4; i++) {
    Json::Value m = Envelope("EVEM", "SENDALARMINFO");
    m["PARAMETER"]["ALARMTYPE"] = types[i];
    m["PARAMETER"]["CMDTYPE"] = cmds[i];
    m["PARAMETER"]["ALARMUID"] = 1000 + i;
    m["PARAMETER"]["CURRENTTIME"] = 1700000000;
    m["PARAMETER"]["RUN"] = 1;
    out.push_back(Packet(m));
  }
  return out;
}

// One worker process's share of the device connections.
class CLoadWorker {
 public:
  CLoadWorker(int first, int count, uint16_t port) : nFirst(first), nPort(port), conns(static_cast<size_t>(count)) {}
  // Logs every connection in, reports, waits for the go byte, runs the load.
  void Run(int resultFd, int goFd, uint64_t durationMs);

 private:
  struct Conn {
    int fd = -1;
    bool bUp = false;
    bool bLoggedIn = false;
    std::string in;
  };
  void LoginPhase();
  bool StartConnect(size_t i);
  void OnEvent(size_t i, uint32_t events);
  void OnConnected(size_t i);
  void ReadConn(size_t i);
  void TakePackets(Conn& c);
  void Drop(size_t i);
  void Poll(int timeoutMs);
  void Send(size_t i, const std::string& p, long* counter);
  void LoadPhase(uint64_t durationMs);
  void CloseAll();

  int nFirst;
  uint16_t nPort;
  std::vector<Conn> conns;
  int ep = -1;
  int nInFlight = 0;  // connects and logins not yet answered
  WorkerResult res;
};

bool CLoadWorker::StartConnect(size_t i) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(nPort);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS) {
    close(fd);
    return false;
  }
  epoll_event ev{};
  ev.events = EPOLLOUT | EPOLLIN;
  ev.data.u64 = i;
  epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
  conns[i].fd = fd;
  nInFlight++;
  return true;
}

void CLoadWorker::OnConnected(size_t i) {
  Conn& c = conns[i];
  int err = 0;
  socklen_t len = sizeof err;
  getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
  if (err != 0) return Drop(i);
  c.bUp = true;
  res.nConnected++;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = i;
  epoll_ctl(ep, EPOLL_CTL_MOD, c.fd, &ev);
  std::string login = LoginPacket(nFirst + static_cast<int>(i));
  if (send(c.fd, login.data(), login.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(login.size())) Drop(i);
}

void CLoadWorker::Drop(size_t i) {
  Conn& c = conns[i];
  if (c.fd < 0) return;
  if (!c.bLoggedIn) nInFlight--;
  close(c.fd);
  c.fd = -1;
  c.bUp = false;
  res.nClosed++;
}

void CLoadWorker::OnEvent(size_t i, uint32_t events) {
  if (i >= conns.size() || conns[i].fd < 0) return;
  if (!conns[i].bUp && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
    OnConnected(i);
    return;
  }
  if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) ReadConn(i);
}

void CLoadWorker::ReadConn(size_t i) {
  Conn& c = conns[i];
  if (!RecvAvailable(c.fd, c.in)) return Drop(i);  // closed by the server, or reset
  TakePackets(c);
}

void CLoadWorker::TakePackets(Conn& c) {
  PacketInfo info;
  while (c.in.size() >= static_cast<size_t>(PACKET_HEAD_LEN) &&
         ParsePacketHead(reinterpret_cast<const uint8_t*>(c.in.data()), &info) &&
         c.in.size() >= static_cast<size_t>(info.nPacketLen)) {
    std::string_view text(c.in.data() + info.nHeadLen, static_cast<size_t>(info.nDataLen));
    if (text.find("\"OPERATION\":\"KEEPALIVE\"") != std::string_view::npos) res.nKeepAliveAnswers++;
    if (!c.bLoggedIn && text.find("\"OPERATION\":\"CONNECT\"") != std::string_view::npos) {
      c.bLoggedIn = true;
      res.nLoggedIn++;
      nInFlight--;
    }
    c.in.erase(0, static_cast<size_t>(info.nPacketLen));
  }
}

void CLoadWorker::Poll(int timeoutMs) {
  epoll_event events[512];
  int n = epoll_wait(ep, events, 512, timeoutMs);
  for (int k = 0; k < n; k++) OnEvent(static_cast<size_t>(events[k].data.u64), events[k].events);
}

void CLoadWorker::LoginPhase() {
  size_t next = 0;
  uint64_t deadline = NowMs() + 180000;
  while (NowMs() < deadline) {
    while (nInFlight < LOAD_CONNECTS_IN_FLIGHT && next < conns.size()) {
      if (!StartConnect(next)) res.nClosed++;
      next++;
    }
    if (next == conns.size() && nInFlight == 0) return;
    Poll(50);
  }
}

void CLoadWorker::Send(size_t i, const std::string& p, long* counter) {
  Conn& c = conns[i];
  if (!c.bLoggedIn || c.fd < 0) return;
  if (send(c.fd, p.data(), p.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(p.size())) {
    (*counter)++;
  } else {
    res.nSendFailures++;
  }
}

void CLoadWorker::LoadPhase(uint64_t durationMs) {
  const std::string keepAlive = Packet(Envelope("CERTIFICATE", "KEEPALIVE"));
  const std::string gps = GpsPacket();
  const std::vector<std::string> alarms = AlarmPackets();
  const uint64_t n = conns.size();
  uint64_t sentKa = 0, sentGps = 0, sentAlarm = 0;
  uint64_t start = NowMs();
  for (uint64_t t = 0; t < durationMs; t = NowMs() - start) {
    // Connection i's period starts at i/n of the period: the k-th send of a
    // kind is due at k * period / n and goes to connection k mod n.
    for (; sentKa < t * n / KEEPALIVE_MS; sentKa++) Send(sentKa % n, keepAlive, &res.nKeepAlives);
    for (; sentGps < t * n / GPS_MS; sentGps++) Send(sentGps % n, gps, &res.nGps);
    for (; sentAlarm < t * n / ALARM_MS; sentAlarm++) {
      for (const std::string& a : alarms) Send(sentAlarm % n, a, &res.nAlarms);
    }
    Poll(5);
  }
}

void CLoadWorker::CloseAll() {
  linger off{1, 0};  // reset, so no TIME_WAIT holds the ephemeral ports
  for (Conn& c : conns) {
    if (c.fd < 0) continue;
    setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    close(c.fd);
    c.fd = -1;
  }
}

void CLoadWorker::Run(int resultFd, int goFd, uint64_t durationMs) {
  ep = epoll_create1(EPOLL_CLOEXEC);
  LoginPhase();
  (void)!write(resultFd, &res, sizeof res);
  char go = 0;
  if (read(goFd, &go, 1) == 1) LoadPhase(durationMs);
  for (int k = 0; k < 50; k++) Poll(10);  // the last answers
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  res.dCpuSec = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  CloseAll();
  (void)!write(resultFd, &res, sizeof res);
}

// The server child and its standard output.
struct ServerChild {
  pid_t pid = -1;
  int outFd = -1;
  std::string buf;
};

bool StartServer(const Options& opt, ServerChild* srv) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  srv->pid = fork();
  if (srv->pid == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(out[1], 1);
    if (devNull > 2) close(devNull);
    const char* args[] = {opt.szServer.c_str(), "--listen", "127.0.0.1:0", "--quiet",
                          opt.bReplyToUploads ? "--reply-to-uploads" : nullptr, nullptr};
    execv(opt.szServer.c_str(), const_cast<char* const*>(args));
    _exit(127);
  }
  close(out[1]);
  srv->outFd = out[0];
  return srv->pid > 0;
}

// The next line of the server's output that starts with prefix.
bool ServerLine(ServerChild* srv, const char* prefix, int timeoutMs, std::string* line) {
  uint64_t deadline = NowMs() + static_cast<uint64_t>(timeoutMs);
  for (;;) {
    size_t nl;
    while ((nl = srv->buf.find('\n')) != std::string::npos) {
      *line = srv->buf.substr(0, nl);
      srv->buf.erase(0, nl + 1);
      if (line->rfind(prefix, 0) == 0) return true;
      printf("  server: %s\n", line->c_str());
    }
    if (NowMs() >= deadline) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(srv->outFd, &set);
    timeval tv{0, 100000};
    if (select(srv->outFd + 1, &set, nullptr, nullptr, &tv) <= 0) continue;
    char chunk[4096];
    ssize_t n = read(srv->outFd, chunk, sizeof chunk);
    if (n <= 0) return false;
    srv->buf.append(chunk, static_cast<size_t>(n));
  }
}

// utime + stime of a process in seconds.
double ProcessCpuSec(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* f = fopen(path, "r");
  if (!f) return -1;
  char buf[1024] = {};
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = 0;
  const char* p = strrchr(buf, ')');
  unsigned long long utime = 0, stime = 0;
  if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) return -1;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "VmRSS" / "VmHWM" value of /proc/PID/status in kB.
long ProcessStatusKb(pid_t pid, const char* key) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE* f = fopen(path, "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  size_t keyLen = strlen(key);
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, key, keyLen) == 0 && line[keyLen] == ':') kb = atol(line + keyLen + 1);
  }
  fclose(f);
  return kb;
}

void SleepUntil(uint64_t ms) {
  while (NowMs() < ms) usleep(static_cast<useconds_t>(std::min<uint64_t>(ms - NowMs(), 200) * 1000));
}

bool ParseOptions(int argc, char** argv, Options* opt) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--reply-to-uploads") {
      opt->bReplyToUploads = true;
    } else if (i + 1 < argc && a == "--connections") {
      opt->nConnections = atoi(argv[++i]);
    } else if (i + 1 < argc && a == "--duration") {
      opt->nDurationSec = atoi(argv[++i]);
    } else if (i + 1 < argc && a == "--server") {
      opt->szServer = argv[++i];
    } else {
      return false;
    }
  }
  if (opt->szServer.empty()) opt->szServer = GetExeDir() + "/zel-server";
  return opt->nConnections > 0 && opt->nDurationSec >= 4;
}

struct Worker {
  pid_t pid = -1;
  int resultFd = -1;
  int goFd = -1;
};

bool StartWorkers(int total, int perWorker, uint16_t port, uint64_t durationMs, std::vector<Worker>* workers) {
  int count = (total + perWorker - 1) / perWorker;
  for (int w = 0, first = 0; w < count; w++) {
    int n = total / count + (w < total % count ? 1 : 0);
    int res[2], go[2];
    if (pipe2(res, O_CLOEXEC) != 0 || pipe2(go, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid == 0) {
      CLoadWorker worker(first, n, port);
      worker.Run(res[1], go[0], durationMs);
      _exit(0);
    }
    close(res[1]);
    close(go[0]);
    workers->push_back({pid, res[0], go[1]});
    first += n;
  }
  return true;
}

WorkerResult Collect(const std::vector<Worker>& workers) {
  WorkerResult sum;
  for (const Worker& w : workers) {
    WorkerResult r;
    if (read(w.resultFd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) continue;
    sum.nConnected += r.nConnected, sum.nLoggedIn += r.nLoggedIn, sum.nKeepAlives += r.nKeepAlives;
    sum.nGps += r.nGps, sum.nAlarms += r.nAlarms, sum.nKeepAliveAnswers += r.nKeepAliveAnswers;
    sum.nSendFailures += r.nSendFailures, sum.nClosed += r.nClosed, sum.dCpuSec += r.dCpuSec;
  }
  return sum;
}

std::string CpuModel() {
  FILE* f = fopen("/proc/cpuinfo", "r");
  if (!f) return "?";
  char line[256];
  std::string model = "?";
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, "model name", 10) == 0 && strchr(line, ':')) {
      model = strchr(line, ':') + 2;
      model.erase(model.find_last_not_of("\n") + 1);
      break;
    }
  }
  fclose(f);
  return model;
}
// What the parent measured of the server over the steady part of the run.
struct Measure {
  double dSteadySec = 0;
  double dCores = 0;
  long nRssKb = 0;
  long nPeakKb = 0;
};

// Lets the workers go, samples the server's CPU after a warm-up and again
// just before the end, then its memory.
Measure RunLoad(const std::vector<Worker>& workers, pid_t server, uint64_t durationMs) {
  for (const Worker& w : workers) (void)!write(w.goFd, "g", 1);
  uint64_t go = NowMs();
  SleepUntil(go + std::min<uint64_t>(5000, durationMs / 4));
  double cpu0 = ProcessCpuSec(server);
  uint64_t w0 = NowMs();
  SleepUntil(go + durationMs - 1000);
  double cpu1 = ProcessCpuSec(server);
  Measure m;
  m.dSteadySec = static_cast<double>(NowMs() - w0) / 1000.0;
  m.dCores = (cpu1 - cpu0) / m.dSteadySec;
  m.nRssKb = ProcessStatusKb(server, "VmRSS");
  m.nPeakKb = ProcessStatusKb(server, "VmHWM");
  return m;
}

void Report(const Options& opt, const WorkerResult& load, const Measure& m) {
  printf("sent in %d s: keepalives=%ld gps=%ld alarms=%ld (answers to keepalives: %ld; send failures %ld; closed %ld)\n",
         opt.nDurationSec, load.nKeepAlives, load.nGps, load.nAlarms, load.nKeepAliveAnswers, load.nSendFailures,
         load.nClosed);
  printf("server CPU over the steady %.1f s: %.3f cores (user+system); RSS %.1f MB (peak %.1f MB)\n", m.dSteadySec,
         m.dCores, static_cast<double>(m.nRssKb) / 1024.0, static_cast<double>(m.nPeakKb) / 1024.0);
  printf("load client CPU: %.1f s over the whole run\n", load.dCpuSec);
}

// The number after " key=" in the server's summary line, -1 when absent.
long SummaryValue(const std::string& line, const std::string& key) {
  size_t pos = line.find(" " + key + "=");
  return pos == std::string::npos ? -1 : atol(line.c_str() + pos + key.size() + 2);
}

// True when the server counted exactly what the workers sent.
bool ServerCountedAll(const std::string& summary, const WorkerResult& load) {
  bool bOk = SummaryValue(summary, "keepalives") == load.nKeepAlives && SummaryValue(summary, "gps") == load.nGps &&
             SummaryValue(summary, "alarms") == load.nAlarms;
  printf("server counted every message sent: %s\n", bOk ? "yes" : "NO");
  return bOk;
}

// How many connections to hold: the request, capped to what one server
// process can hold under the open-file limit.
int CappedConnections(const Options& opt, long fdLimit) {
  int n = static_cast<int>(std::min<long>(opt.nConnections, fdLimit - LOAD_SERVER_FIXED_FDS));
  printf("machine: %ld cores (%s), open-file limit %ld per process\n", sysconf(_SC_NPROCESSORS_ONLN),
         CpuModel().c_str(), fdLimit);
  if (n < opt.nConnections) {
    printf("note: %d connections requested; one server process can hold at most %d under this limit\n",
           opt.nConnections, n);
  }
  return n;
}
}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseOptions(argc, argv, &opt)) {
    fprintf(stderr, "usage: server_load_check [--connections N] [--duration SECONDS>=4] [--server PATH] "
                    "[--reply-to-uploads]\n");
    return 2;
  }
  long fdLimit = ProcessStartup();
  int n = CappedConnections(opt, fdLimit);
  ServerChild srv;
  std::string line;
  if (!StartServer(opt, &srv) || !ServerLine(&srv, "listening on", 10000, &line)) {
    fprintf(stderr, "cannot start %s\n", opt.szServer.c_str());
    return 1;
  }
  uint16_t port = static_cast<uint16_t>(atoi(line.substr(line.rfind(':') + 1).c_str()));
  uint64_t durationMs = static_cast<uint64_t>(opt.nDurationSec) * 1000u;
  std::vector<Worker> workers;
  uint64_t t0 = NowMs();
  StartWorkers(n, static_cast<int>(fdLimit) - LOAD_WORKER_SPARE_FDS, port, durationMs, &workers);
  WorkerResult login = Collect(workers);
  printf("logged in: %ld of %d connections in %.1f s (%zu client processes)\n", login.nLoggedIn, n,
         static_cast<double>(NowMs() - t0) / 1000.0, workers.size());
  Measure m = RunLoad(workers, srv.pid, durationMs);
  WorkerResult load = Collect(workers);
  for (const Worker& w : workers) waitpid(w.pid, nullptr, 0);
  Report(opt, load, m);
  kill(srv.pid, SIGTERM);
  bool bSummary = ServerLine(&srv, "summary", 10000, &line);
  printf("server %s\n", bSummary ? line.c_str() : "gave no summary");
  waitpid(srv.pid, nullptr, 0);
  bool bOk = login.nLoggedIn == n && load.nClosed == 0 && bSummary && ServerCountedAll(line, load);
  printf("%s\n", bOk ? "result: ok" : "result: FAILED");
  return bOk ? 0 : 1;
}
