// scale_floor_check: the floor that bench/scale measures the simulator
// against. One thread and one epoll set hold N device connections to a
// Register Server on loopback and produce the devices' traffic at the devices'
// rates: a CONNECT login, then per connection a GPS upload and the four alarms
// of an alarm cycle (speed, customised start and end, video lost) every 10 s
// written into one message object as a device's Tick writes them, and a
// keep-alive every 15 s. Each message is built from a Json::Value by the same
// writer and packet code as the devices use and sent with one send call; the
// same debug lines as a device writes go to the debug channel (standard error,
// one write per line). Received packets are framed and parsed as a device
// does. What the simulator adds on top of this is its own cost.
//
//   scale_floor_check --port P --batches BASE:COUNT[,BASE:COUNT...]
//                     --steady SECONDS [--login-timeout SECONDS] [--ifaddr A[,B...]]
//
// With --ifaddr the connections leave from the given local addresses, round
// robin, as zel-cli's do with its --ifaddr.
//
// Output on standard output, one "key value" line each: "online" when every
// connection has logged in (or the time-out ended the wait), "steady" when the
// steady period begins and "closing" when it ends, then the counters and
// "closed" with the seconds the closes took. Loopback only; it ends by itself.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_conn.h"
#include "device/login_message.h"
#include "net/json_read.h"
#include "net/local_ports.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/local_time.h"
#include "platform/process_init.h"

namespace {
constexpr uint64_t FLOOR_GPS_MS = 10000, FLOOR_ALARM_MS = 10000, FLOOR_KEEPALIVE_MS = 15000;

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// One connection with the state a device keeps for its uploads (the same
// start values as a new device).
struct FloorConn {
  int fd = -1;
  bool bUp = false;
  bool bOnline = false;
  std::string szId;
  std::string in;
  int32_t nSpeed = 20, nLongitude = 1135598, nLatitude = 223310;
  uint32_t nSpeedAlarmUid = 0, nSosUid = 0, nVideoLostSeq = 0;
};

struct FloorCounts {
  long nLoggedIn = 0, nGps = 0, nAlarms = 0, nKeepAlives = 0, nSendFailures = 0, nClosed = 0;
  unsigned long long nBytes = 0;
};

class CFloor {
 public:
  CFloor(uint16_t port, std::vector<std::string> ids);
  void Login(uint64_t timeoutMs);
  void Steady(uint64_t durationMs);
  double CloseAll();
  const FloorCounts& Counts() const { return counts; }

 private:
  void StartConnect(size_t i);
  void OnEvent(size_t i, uint32_t events);
  void OnConnected(size_t i);
  void ReadConn(size_t i);
  void OnText(FloorConn& c, const char* text, size_t len);
  void Drop(size_t i);
  void Poll(int timeoutMs);
  bool Send(FloorConn& c, const Json::Value& msg, int bLog, bool bMore = false);
  void TickUploads(FloorConn& c);
  void KeepAlive(FloorConn& c);

  uint16_t nPort;
 public:
  std::vector<uint32_t> sources;  // --ifaddr, network order; empty: any
 private:
  std::vector<FloorConn> conns;
  int ep = -1;
  FloorCounts counts;
};

CFloor::CFloor(uint16_t port, std::vector<std::string> ids) : nPort(port), conns(ids.size()) {
  ep = epoll_create1(EPOLL_CLOEXEC);
  uint32_t t = static_cast<uint32_t>(NowMs());
  for (size_t i = 0; i < ids.size(); ++i) {
    conns[i].szId = std::move(ids[i]);
    conns[i].nSpeedAlarmUid = t;
    conns[i].nSosUid = t + 500123u;
    conns[i].nVideoLostSeq = t + 1000587u;
  }
}

// The lines a device writes when it opens its connection.
void CFloor::StartConnect(size_t i) {
  OutputDebugLine("dev - CDevQ5::ConnectReg");
  DebugPrintf("CMySocket - connect to %s:%u", "127.0.0.1", static_cast<unsigned>(nPort));
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    OutputDebugLine("dev - create socket failed.");
    return;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(nPort);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!sources.empty()) {
    int one = 1;
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = sources[i % sources.size()];
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  // The same choice of local ports as the simulator's sockets.
  SpreadLocalPort(fd);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno == EADDRNOTAVAIL) {
    ClearLocalPortRange(fd);
    connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  epoll_event ev{};
  ev.events = EPOLLOUT | EPOLLIN;
  ev.data.u64 = i;
  epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
  conns[i].fd = fd;
}

void CFloor::OnConnected(size_t i) {
  FloorConn& c = conns[i];
  int err = 0;
  socklen_t len = sizeof err;
  getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
  if (err != 0) return Drop(i);
  OutputDebugLine("CMySocket - connect ok.");
  c.bUp = true;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = i;
  epoll_ctl(ep, EPOLL_CTL_MOD, c.fd, &ev);
  Send(c, BuildLoginMessage(c.szId.c_str()), 0);
}

void CFloor::Drop(size_t i) {
  FloorConn& c = conns[i];
  if (c.fd < 0) return;
  close(c.fd);
  c.fd = -1;
  c.bUp = c.bOnline = false;
  counts.nClosed++;
}

void CFloor::OnEvent(size_t i, uint32_t events) {
  if (i >= conns.size() || conns[i].fd < 0) return;
  if (!conns[i].bUp) {
    if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) OnConnected(i);
    return;
  }
  if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) ReadConn(i);
}

// Frames the packets received and hands each text on, as a device's framer
// and dispatcher do.
void CFloor::ReadConn(size_t i) {
  FloorConn& c = conns[i];
  if (!RecvAvailable(c.fd, c.in)) return Drop(i);
  TakePackets(c.in, [&](const PacketInfo& info, const char* packet) {
    std::string_view text = SignalText(info, packet);
    OnText(c, text.data(), text.size());
    return true;
  });
}

void CFloor::OnText(FloorConn& c, const char* text, size_t len) {
  Json::Value request;
  JsonParse(text, text + len, request, true);
  const Json::Value& op = JsonMember(request, "OPERATION");
  if (!JsonIsString(op, "KEEPALIVE")) OutputDebugLine(std::string_view(text, len));
  if (!c.bOnline && JsonIsString(op, "CONNECT")) {
    c.bOnline = true;
    counts.nLoggedIn++;
  }
}

void CFloor::Poll(int timeoutMs) {
  epoll_event events[512];
  int n = epoll_wait(ep, events, 512, timeoutMs);
  for (int k = 0; k < n; k++) OnEvent(static_cast<size_t>(events[k].data.u64), events[k].events);
}

// One packet, one send call, the device's failure line. bMore holds the
// bytes for the next packet of the same burst, as a device's Tick does.
bool CFloor::Send(FloorConn& c, const Json::Value& msg, int bLog, bool bMore) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  thread_local std::string text;
  int32_t len = BuildSignalPacket(msg, buf, &text);
  if (bLog) OutputDebugLine(text);
  ssize_t n = c.fd >= 0 ? send(c.fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT | (bMore ? MSG_MORE : 0)) : -1;
  if (n > 0) {
    counts.nBytes += static_cast<unsigned long long>(n);
    return true;
  }
  OutputDebugLine("dev - send data failed.");
  counts.nSendFailures++;
  return false;
}

// The GPS upload and the alarm cycle of one device Tick, written into one
// message object so that members carry over from one message to the next.
void CFloor::TickUploads(FloorConn& c) {
  LocalTime now = GetLocalTime();
  char timeText[16];
  FormatTimeText(now, timeText, sizeof timeText);
  Json::Value msg;
  msg["SESSION"] = "";
  c.nSpeed += 2;
  if (c.nSpeed > 140) c.nSpeed = 0;
  c.nLongitude += 5;
  c.nLatitude += 2;
  if (c.nLongitude > 1200000) c.nLongitude = 1100000;
  if (c.nLatitude > 300000) c.nLatitude = 200000;
  char lon[24], lat[24];
  snprintf(lon, sizeof lon, "%d.%04d", c.nLongitude / 10000, c.nLongitude % 10000);
  snprintf(lat, sizeof lat, "%d.%04d", c.nLatitude / 10000, c.nLatitude % 10000);
  msg["MODULE"] = "DEVEMM";
  msg["OPERATION"] = "SPI";
  Json::Value& par = msg["PARAMETER"];
  par["M"] = 1;
  Json::Value& p = par["P"];
  p["V"] = 0, p["J"] = lon, p["W"] = lat, p["S"] = c.nSpeed * 100, p["C"] = 5050, p["T"] = timeText;
  if (Send(c, msg, 1, true)) counts.nGps++;

  int64_t alarmTime = LocalTimeToEpoch(now);
  msg["MODULE"] = "EVEM";
  msg["OPERATION"] = "SENDALARMINFO";
  par["ALARMTYPE"] = 8, par["CMDTYPE"] = 1, par["ALARMUID"] = Json::UInt(c.nSpeedAlarmUid++);
  par["CURRENTTIME"] = Json::Int64(alarmTime), par["CSP"] = 12000, par["ATYPE"] = 1;
  par["ALARMNAME"] = "TOO FAST", par["RUN"] = 1;
  if (Send(c, msg, 1, true)) counts.nAlarms++;

  par["ALARMTYPE"] = 4, par["CONTINUETIME"] = 10, par["CURRENTTIME"] = Json::Int64(alarmTime), par["SNO"] = 2;
  par["ALARMNAME"] = "SOS", par["RUN"] = 1, par["ALARMUID"] = Json::UInt(c.nSosUid), par["CMDTYPE"] = 1;
  if (Send(c, msg, 0, true)) c.nSosUid++, counts.nAlarms++;
  par["CMDTYPE"] = 0;
  if (Send(c, msg, 0, true)) counts.nAlarms++;

  bool start = (c.nVideoLostSeq & 1u) != 0;
  par["ALARMTYPE"] = 0, par["CONTINUETIME"] = 10, par["CURRENTTIME"] = Json::Int64(alarmTime), par["CHANNEL"] = 4;
  par["ALARMNAME"] = "VIDEO LOST", par["RUN"] = 1;
  par["ALARMUID"] = Json::UInt(start ? c.nVideoLostSeq : c.nVideoLostSeq - 1u), par["CMDTYPE"] = start ? 1 : 0;
  ++c.nVideoLostSeq;
  if (Send(c, msg, 0)) counts.nAlarms++;
}

void CFloor::KeepAlive(FloorConn& c) {
  Json::Value msg;
  msg["SESSION"] = "";
  msg["MODULE"] = "CERTIFICATE";
  msg["OPERATION"] = "KEEPALIVE";
  if (Send(c, msg, 0)) counts.nKeepAlives++;
}

// Issues every connect at once, as the Online command does, then serves until
// every connection has logged in or the time-out has passed.
void CFloor::Login(uint64_t timeoutMs) {
  for (size_t i = 0; i < conns.size(); ++i) StartConnect(i);
  uint64_t deadline = NowMs() + timeoutMs;
  while (counts.nLoggedIn < static_cast<long>(conns.size()) && NowMs() < deadline) Poll(20);
}

// Connection i's periods start at i/N of the period, so the k-th event of a
// kind is due at k * period / N and goes to connection k mod N.
void CFloor::Steady(uint64_t durationMs) {
  const uint64_t n = conns.size();
  uint64_t nUploads = 0, nKeepAlives = 0;
  uint64_t start = NowMs();
  for (uint64_t t = 0; t < durationMs; t = NowMs() - start) {
    for (; nUploads < t * n / FLOOR_GPS_MS; nUploads++) {
      FloorConn& c = conns[nUploads % n];
      if (c.bOnline) TickUploads(c);
    }
    for (; nKeepAlives < t * n / FLOOR_KEEPALIVE_MS; nKeepAlives++) {
      FloorConn& c = conns[nKeepAlives % n];
      if (c.bOnline) KeepAlive(c);
    }
    // Due events go out in batches at least every 100 ms: the traffic stays
    // spread over the period while the thread wakes no more than it must.
    Poll(100);
  }
  static_assert(FLOOR_ALARM_MS == FLOOR_GPS_MS, "the alarm cycle rides with the GPS upload");
}

// Resets every connection as a device's Close does; seconds taken.
double CFloor::CloseAll() {
  uint64_t t0 = NowMs();
  for (FloorConn& c : conns) {
    if (c.fd < 0) continue;
    ResetConnection(c.fd);
    c.fd = -1;
  }
  return static_cast<double>(NowMs() - t0) / 1000.0;
}

void Say(const char* key, double value) {
  printf("%s %.3f\n", key, value);
  fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
  int port = 0, steadySec = 0, loginTimeoutSec = 120;
  std::vector<std::string> ids;
  std::vector<uint32_t> sources;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--ifaddr") {
      std::string list = argv[i + 1];
      for (size_t at = 0; at <= list.size();) {
        size_t comma = std::min(list.find(',', at), list.size());
        in_addr addr{};
        if (inet_pton(AF_INET, list.substr(at, comma - at).c_str(), &addr) == 1) sources.push_back(addr.s_addr);
        else port = -1;
        at = comma + 1;
      }
      continue;
    }
    if (a == "--port") port = atoi(argv[i + 1]);
    else if (a == "--steady") steadySec = atoi(argv[i + 1]);
    else if (a == "--login-timeout") loginTimeoutSec = atoi(argv[i + 1]);
    else if (a == "--batches" && ParseBatches(argv[i + 1], ids)) continue;
    else port = -1;
  }
  if (port <= 0 || port > 65535 || ids.empty() || steadySec <= 0) {
    fprintf(stderr, "usage: scale_floor_check --port P --batches BASE:COUNT[,...] --steady SECONDS "
                    "[--login-timeout SECONDS]\n");
    return 2;
  }
  ProcessStartup();
  CFloor floor(static_cast<uint16_t>(port), std::move(ids));
  floor.sources = sources;
  uint64_t t0 = NowMs();
  floor.Login(static_cast<uint64_t>(loginTimeoutSec) * 1000u);
  Say("online", static_cast<double>(NowMs() - t0) / 1000.0);
  Say("steady", static_cast<double>(steadySec));
  floor.Steady(static_cast<uint64_t>(steadySec) * 1000u);
  Say("closing", 0);
  const FloorCounts& c = floor.Counts();
  printf("logged_in %ld\ngps %ld\nalarms %ld\nkeepalives %ld\nsend_failures %ld\ndropped %ld\nbytes %llu\n",
         c.nLoggedIn, c.nGps, c.nAlarms, c.nKeepAlives, c.nSendFailures, c.nClosed, c.nBytes);
  Say("closed", floor.CloseAll());
  return 0;
}
