// media_floor_check: the floor that bench/media measures zel-cli's live view
// against. One thread and one epoll set play the devices' part for the live
// streams a Register Server asks for on loopback: each device logs in with the
// CONNECT text of a device; a REQUESTALIVEVIDEO is answered as a device answers
// it (the reply on the signalling connection, a media connection to the
// request's IPANDPORT, CREATESTREAM on it, the sending begins with the
// server's answer); then every chunk of the frame file goes out once per
// channel of the request's mask as a live packet (the 12-byte head with the
// channel, then the chunk as it lies in the file, one sendmsg of the two), with
// the live sender's pacing: video chunks by their time stamps
// (PaceVideoChunk), an early chunk waits for the next pass 100 ms later, at
// most 64 chunks per step, a send that finds bytes still queued waits until
// they are written out. The frame file is read once and walked once into a
// table of its chunks; a stream keeps only its place in that table. What
// zel-cli adds on top of this is its own cost.
//
//   media_floor_check --port P --batches BASE:COUNT[,BASE:COUNT...] --frames FILE
//                     [--login-timeout SECONDS] [--max-seconds SECONDS]
//
// Standard output, one "key value" line each: "chunks N" once the frame file
// is read, "online SECONDS" when every device has logged in (or the time-out
// ended the wait), then, when standard input ends or says "quit" (or after
// --max-seconds, default 600), the counters and "closed". "count" on
// standard input prints "streaming N packets P bytes B" (streams whose
// sending has begun, live packets and their bytes sent so far).
// Loopback only; it ends by itself.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "bench/bench_conn.h"
#include "device/login_message.h"
#include "media/frame_reader.h"
#include "media/live_pacing.h"
#include "media/loop_sender.h"
#include "media/media_messages.h"
#include "media/media_senders.h"
#include "media/stream_slot.h"
#include "net/json_read.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/process_init.h"
#include "platform/tick.h"

namespace {
constexpr uint32_t FLOOR_OUTER_PAUSE_MS = 100;  // as the live sender's outer pause
constexpr int32_t FLOOR_CHANNELS = 32;
constexpr uint64_t FLOOR_STDIN_ID = ~0ull;

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// One chunk of the frame file, where it lies in the file's bytes.
struct FloorChunk {
  const uint8_t* p;
  int32_t nLen;
  uint32_t nTimestampMs;
  bool bVideo;
};

// The chunks in the order the live sender meets them, from one walk of the file.
struct FloorFile {
  std::shared_ptr<const FrameFileBytes> bytes;
  std::vector<FloorChunk> chunks;
};

bool LoadChunks(const char* path, FloorFile& file) {
  CFrameReader reader;
  if (!reader.Open(path)) return false;
  file.bytes = reader.File();
  for (;;) {
    FrameInfo info{};
    bool bRestarted = false;
    int32_t r = reader.Next(&info, &bRestarted);
    if ((bRestarted && !file.chunks.empty()) || r == CHUNK_IDLE) break;
    if (r != CHUNK_OK) continue;
    if (info.nTotalLen <= LIVE_MAX_CHUNK) {  // the live sender skips bigger chunks
      file.chunks.push_back(
          {reader.Chunk(), info.nTotalLen, static_cast<uint32_t>(info.nTimestampMs), info.bVideo != 0});
    }
    reader.Consume(info);
  }
  return !file.chunks.empty();
}

// A connection: a device's signalling connection or a stream's media connection.
struct FloorConn {
  int fd = -1;
  bool bMedia = false;
  bool bUp = false;      // connected
  bool bOnline = false;  // signalling: the CONNECT answer came
  std::string szName;    // device ID, or stream name
  std::string in;        // received bytes not yet framed
  int32_t nStreams = 0;  // signalling: streams of this device still open
  size_t nDevice = 0;    // media: its device's connection
  // Media: the sender.
  bool bStarted = false;
  bool bWaitingRoom = false;
  std::string out;       // bytes the kernel did not take yet
  size_t nOutOff = 0;
  uint32_t nMask = 0;
  size_t nChunk = 0;
  int32_t nNextChannel = 0;
  bool bMidChunk = false;  // the current chunk has gone to some of its channels
  LivePacing pacing;
  uint64_t nDueMs = 0;   // the step timer; 0 when none is set
};

struct FloorCounts {
  long nLoggedIn = 0, nRequests = 0, nRefused = 0, nStreaming = 0, nSendFailures = 0, nRoomWaits = 0, nDropped = 0;
  unsigned long long nPackets = 0, nBytes = 0;
};

class CMediaFloor {
 public:
  CMediaFloor(uint16_t port, std::vector<std::string> ids, FloorFile& f);
  void Login(uint64_t timeoutMs);
  // Serves until standard input ends or says quit, or until deadlineMs.
  void Serve(uint64_t deadlineMs);
  double CloseAll();
  const FloorCounts& Counts() const { return counts; }

 private:
  void Connect(size_t i, uint32_t ip, uint16_t port);
  void OnEvent(size_t i, uint32_t events);
  void OnConnected(size_t i);
  void ReadConn(size_t i);
  void OnText(size_t i, const char* text, size_t len);
  void OnRequestLive(size_t dev, const Json::Value& request);
  void Drop(size_t i);
  bool SendJson(FloorConn& c, const Json::Value& msg);
  void Watch(FloorConn& c, size_t i, uint32_t events, int op);
  void Poll(int timeoutMs);
  bool ReadInput();
  // The live sender's steps.
  void Step(size_t i);
  bool SendToChannels(size_t i);
  void StepAfter(size_t i, uint32_t ms);
  void RunDueSteps();
  void OnWritable(size_t i);

  uint16_t nPort;
  FloorFile& file;
  std::vector<std::unique_ptr<FloorConn>> conns;
  size_t nDevices;
  int ep = -1;
  bool bQuit = false;
  std::string input;
  // Step timers: (due, connection), earliest first; a stale entry (the
  // connection's nDueMs no longer matches) is passed over.
  using Due = std::pair<uint64_t, size_t>;
  std::priority_queue<Due, std::vector<Due>, std::greater<Due>> timers;
  FloorCounts counts;
};

CMediaFloor::CMediaFloor(uint16_t port, std::vector<std::string> ids, FloorFile& f)
    : nPort(port), file(f), nDevices(ids.size()) {
  ep = epoll_create1(EPOLL_CLOEXEC);
  for (std::string& id : ids) {
    conns.push_back(std::make_unique<FloorConn>());
    conns.back()->szName = std::move(id);
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = FLOOR_STDIN_ID;
  epoll_ctl(ep, EPOLL_CTL_ADD, STDIN_FILENO, &ev);
}

void CMediaFloor::Watch(FloorConn& c, size_t i, uint32_t events, int op) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = i;
  epoll_ctl(ep, op, c.fd, &ev);
}

// A non-blocking connect of connection i.
void CMediaFloor::Connect(size_t i, uint32_t ip, uint16_t port) {
  FloorConn& c = *conns[i];
  c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (c.fd < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(ip);
  connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  Watch(c, i, EPOLLOUT | EPOLLIN, EPOLL_CTL_ADD);
}

bool CMediaFloor::SendJson(FloorConn& c, const Json::Value& msg) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  std::string text;
  int32_t len = BuildSignalPacket(msg, buf, &text);
  if (len > 0 && c.fd >= 0 && send(c.fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT) == len) {
    return true;
  }
  counts.nSendFailures++;
  return false;
}

void CMediaFloor::OnConnected(size_t i) {
  FloorConn& c = *conns[i];
  int err = 0;
  socklen_t len = sizeof err;
  getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
  if (err != 0) return Drop(i);
  c.bUp = true;
  Watch(c, i, EPOLLIN, EPOLL_CTL_MOD);
  if (c.bMedia) {
    SendJson(c, BuildCreateStream(c.szName.c_str()));
    return;
  }
  SendJson(c, BuildLoginMessage(c.szName.c_str()));
}

void CMediaFloor::Drop(size_t i) {
  FloorConn& c = *conns[i];
  if (c.fd < 0) return;
  close(c.fd);
  c.fd = -1;
  c.nDueMs = 0;
  if (c.bMedia) {
    conns[c.nDevice]->nStreams--;
    if (c.bStarted) counts.nStreaming--;
    c.out.clear();
  }
  c.bUp = c.bOnline = c.bStarted = false;
  counts.nDropped++;
}

void CMediaFloor::OnEvent(size_t i, uint32_t events) {
  if (i >= conns.size() || conns[i]->fd < 0) return;
  if (!conns[i]->bUp) {
    if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) OnConnected(i);
    return;
  }
  if (events & EPOLLOUT) OnWritable(i);
  if (i < conns.size() && conns[i]->fd >= 0 && (events & (EPOLLIN | EPOLLERR | EPOLLHUP))) ReadConn(i);
}

// Frames the received packets; signalling texts are handled, media discarded.
void CMediaFloor::ReadConn(size_t i) {
  FloorConn& c = *conns[i];
  if (!RecvAvailable(c.fd, c.in)) return Drop(i);
  TakePackets(c.in, [&](const PacketInfo& info, const char* packet) {
    if (info.nType != NTYPE_SIGNAL) return true;
    std::string_view text = SignalText(info, packet);
    OnText(i, text.data(), text.size());
    return c.fd >= 0;
  });
}

void CMediaFloor::OnText(size_t i, const char* text, size_t len) {
  Json::Value msg;
  JsonParse(text, text + len, msg, true);
  const Json::Value& op = JsonMember(msg, "OPERATION");
  FloorConn& c = *conns[i];
  if (c.bMedia) {
    // The sending begins with the answer, once per stream.
    if (!JsonIsString(op, "CREATESTREAM") || c.bStarted) return;
    c.bStarted = true;
    counts.nStreaming++;
    return Step(i);
  }
  if (!c.bOnline && JsonIsString(op, "CONNECT")) {
    c.bOnline = true;
    counts.nLoggedIn++;
  } else if (JsonIsString(op, "REQUESTALIVEVIDEO")) {
    OnRequestLive(i, msg);
  }
}

// As a device: a request naming one of its open streams adds channels to it;
// otherwise a free slot, the media connection, then the reply.
void CMediaFloor::OnRequestLive(size_t dev, const Json::Value& request) {
  counts.nRequests++;
  char name[STREAM_NAME_SIZE];
  if (!ReadStreamName(request, name)) return;
  const Json::Value& par = JsonMember(request, "PARAMETER");
  uint32_t mask = static_cast<uint32_t>(JsonInt(JsonMember(par, "CHANNEL")));
  FloorConn* same = nullptr;
  for (size_t k = nDevices; k < conns.size() && !same; ++k) {
    FloorConn& m = *conns[k];
    if (m.fd >= 0 && m.nDevice == dev && m.szName == name) same = &m;
  }
  if (same) {
    same->nMask |= mask;
  } else {
    std::string addr = JsonText(JsonMember(par, "IPANDPORT"));
    size_t colon = addr.rfind(':');
    in_addr ip{};
    int port = colon == std::string::npos ? 0 : atoi(addr.c_str() + colon + 1);
    // Loopback only: a media address elsewhere is refused like an unusable one.
    if (conns[dev]->nStreams >= MAX_STREAMS || colon == std::string::npos ||
        inet_pton(AF_INET, addr.substr(0, colon).c_str(), &ip) != 1 || (ntohl(ip.s_addr) >> 24) != 127 ||
        port <= 0 || port > 65535) {
      counts.nRefused++;
      return;
    }
    conns.push_back(std::make_unique<FloorConn>());
    FloorConn& s = *conns.back();
    s.bMedia = true;
    s.szName = name;
    s.nDevice = dev;
    s.nMask = mask;
    conns[dev]->nStreams++;
    Connect(conns.size() - 1, ntohl(ip.s_addr), static_cast<uint16_t>(port));
  }
  SendJson(*conns[dev], BuildMediaReply(request, "REQUESTALIVEVIDEO", name, false, 0));
}

void CMediaFloor::StepAfter(size_t i, uint32_t ms) {
  FloorConn& c = *conns[i];
  c.nDueMs = NowMs() + ms;
  if (c.nDueMs == 0) c.nDueMs = 1;
  timers.push({c.nDueMs, i});
}

void CMediaFloor::RunDueSteps() {
  uint64_t now = NowMs();
  while (!timers.empty() && timers.top().first <= now) {
    Due d = timers.top();
    timers.pop();
    FloorConn& c = *conns[d.second];
    if (c.fd < 0 || c.nDueMs != d.first) continue;
    c.nDueMs = 0;
    Step(d.second);
  }
}

// The live sender's inner pass: chunks in file order until one is early, a
// send waits for room, or the step's share is used up.
void CMediaFloor::Step(size_t i) {
  FloorConn& c = *conns[i];
  if (c.bWaitingRoom) return;
  if (c.bMidChunk && !SendToChannels(i)) return;
  for (int32_t n = 0;; ++n) {
    if (c.nMask == 0) return StepAfter(i, FLOOR_OUTER_PAUSE_MS);
    if (n == MEDIA_UNITS_PER_STEP) return StepAfter(i, 0);
    const FloorChunk& k = file.chunks[c.nChunk];
    if (k.bVideo && PaceVideoChunk(c.pacing, k.nTimestampMs, GetTickCount()) == LIVE_PACE_EARLY) {
      return StepAfter(i, FLOOR_OUTER_PAUSE_MS);
    }
    c.nNextChannel = 0;
    if (!SendToChannels(i)) return;
  }
}

// The current chunk to each channel of the mask from nNextChannel on; false
// while a send waits for room. Moves to the next chunk when all are sent.
bool CMediaFloor::SendToChannels(size_t i) {
  FloorConn& c = *conns[i];
  const FloorChunk& k = file.chunks[c.nChunk];
  uint8_t head[PACKET_HEAD_LEN];
  WritePacketHead(head, NTYPE_LIVE, 0, k.nLen);
  for (; c.nNextChannel < FLOOR_CHANNELS; ++c.nNextChannel) {
    if (!(c.nMask & (1u << c.nNextChannel))) continue;
    if (c.out.size() > c.nOutOff) {
      c.bMidChunk = true;
      c.bWaitingRoom = true;
      counts.nRoomWaits++;
      return false;
    }
    head[2] = static_cast<uint8_t>(c.nNextChannel);
    head[3] = 0;
    iovec parts[2] = {{head, sizeof head}, {const_cast<uint8_t*>(k.p), static_cast<size_t>(k.nLen)}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = 2;
    ssize_t n = sendmsg(c.fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    size_t len = sizeof head + static_cast<size_t>(k.nLen);
    if (n < 0 && errno != EAGAIN) {
      counts.nSendFailures++;
      continue;
    }
    size_t sent = n > 0 ? static_cast<size_t>(n) : 0;
    counts.nPackets++;
    counts.nBytes += len;
    if (sent == len) continue;
    // The rest waits in the output buffer; the next send waits for it.
    c.out.clear();
    c.nOutOff = 0;
    if (sent < sizeof head) c.out.append(reinterpret_cast<const char*>(head) + sent, sizeof head - sent);
    size_t bodySent = sent > sizeof head ? sent - sizeof head : 0;
    c.out.append(reinterpret_cast<const char*>(k.p) + bodySent, static_cast<size_t>(k.nLen) - bodySent);
    Watch(c, i, EPOLLIN | EPOLLOUT, EPOLL_CTL_MOD);
  }
  c.nNextChannel = 0;
  c.bMidChunk = false;
  if (++c.nChunk == file.chunks.size()) {
    c.nChunk = 0;  // the file starts again: a new pacing base
    c.pacing.nBaseTs = 0;
  }
  return true;
}

void CMediaFloor::OnWritable(size_t i) {
  FloorConn& c = *conns[i];
  while (c.nOutOff < c.out.size()) {
    ssize_t n = send(c.fd, c.out.data() + c.nOutOff, c.out.size() - c.nOutOff, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) return Drop(i);
    c.nOutOff += static_cast<size_t>(n);
  }
  c.out.clear();
  c.nOutOff = 0;
  Watch(c, i, EPOLLIN, EPOLL_CTL_MOD);
  if (!c.bWaitingRoom) return;
  c.bWaitingRoom = false;
  Step(i);
}

// Standard input: "count" answers at once; "quit" or the end stops serving.
bool CMediaFloor::ReadInput() {
  char buf[512];
  ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  input.append(buf, static_cast<size_t>(n));
  for (size_t nl; (nl = input.find('\n')) != std::string::npos; input.erase(0, nl + 1)) {
    std::string line = input.substr(0, nl);
    if (line == "quit") return false;
    if (line == "count") {
      printf("streaming %ld packets %llu bytes %llu\n", counts.nStreaming, counts.nPackets, counts.nBytes);
      fflush(stdout);
    }
  }
  return true;
}

void CMediaFloor::Poll(int timeoutMs) {
  epoll_event events[512];
  int n = epoll_wait(ep, events, 512, timeoutMs);
  for (int k = 0; k < n; k++) {
    if (events[k].data.u64 == FLOOR_STDIN_ID) {
      if (!ReadInput()) bQuit = true;
      continue;
    }
    OnEvent(static_cast<size_t>(events[k].data.u64), events[k].events);
  }
  RunDueSteps();
}

void CMediaFloor::Login(uint64_t timeoutMs) {
  for (size_t i = 0; i < nDevices; ++i) Connect(i, INADDR_LOOPBACK, nPort);
  uint64_t deadline = NowMs() + timeoutMs;
  while (!bQuit && counts.nLoggedIn < static_cast<long>(nDevices) && NowMs() < deadline) Poll(20);
}

void CMediaFloor::Serve(uint64_t deadlineMs) {
  while (!bQuit && NowMs() < deadlineMs) {
    int timeout = 100;
    if (!timers.empty()) {
      uint64_t now = NowMs(), due = timers.top().first;
      timeout = due <= now ? 0 : static_cast<int>(std::min<uint64_t>(due - now, 100));
    }
    Poll(timeout);
  }
}

// Resets every connection; seconds taken.
double CMediaFloor::CloseAll() {
  uint64_t t0 = NowMs();
  for (auto& c : conns) {
    if (c->fd < 0) continue;
    ResetConnection(c->fd);
    c->fd = -1;
  }
  return static_cast<double>(NowMs() - t0) / 1000.0;
}
}  // namespace

int main(int argc, char** argv) {
  int port = 0, loginTimeoutSec = 60, maxSec = 600;
  std::vector<std::string> ids;
  std::string frames;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--port") port = atoi(argv[i + 1]);
    else if (a == "--login-timeout") loginTimeoutSec = atoi(argv[i + 1]);
    else if (a == "--max-seconds") maxSec = atoi(argv[i + 1]);
    else if (a == "--frames") frames = argv[i + 1];
    else if (a == "--batches" && ParseBatches(argv[i + 1], ids)) continue;
    else port = -1;
  }
  if (port <= 0 || port > 65535 || ids.empty() || frames.empty() || maxSec <= 0 || loginTimeoutSec <= 0) {
    fprintf(stderr, "usage: media_floor_check --port P --batches BASE:COUNT[,...] --frames FILE "
                    "[--login-timeout SECONDS] [--max-seconds SECONDS]\n");
    return 2;
  }
  uint64_t deadline = NowMs() + static_cast<uint64_t>(maxSec) * 1000u;
  ProcessStartup();
  SetDebugEnabled(false);
  FloorFile file;
  if (!LoadChunks(frames.c_str(), file)) {
    fprintf(stderr, "media_floor_check: no chunk in %s\n", frames.c_str());
    return 1;
  }
  printf("chunks %zu\n", file.chunks.size());
  fflush(stdout);
  CMediaFloor floor(static_cast<uint16_t>(port), std::move(ids), file);
  uint64_t t0 = NowMs();
  floor.Login(static_cast<uint64_t>(loginTimeoutSec) * 1000u);
  printf("online %.3f %ld\n", static_cast<double>(NowMs() - t0) / 1000.0, floor.Counts().nLoggedIn);
  fflush(stdout);
  floor.Serve(deadline);
  const FloorCounts& c = floor.Counts();
  printf("logged_in %ld\nrequests %ld\nrefused %ld\nstreaming %ld\npackets %llu\nbytes %llu\nsend_failures %ld\n"
         "room_waits %ld\ndropped %ld\n",
         c.nLoggedIn, c.nRequests, c.nRefused, c.nStreaming, c.nPackets, c.nBytes, c.nSendFailures, c.nRoomWaits,
         c.nDropped);
  printf("closed %.3f\n", floor.CloseAll());
  fflush(stdout);
  return 0;
}
