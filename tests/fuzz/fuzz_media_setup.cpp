// The four media request handlers of one device, fed with request texts, and
// the device's shutdown after them.
//
// Input: the first byte picks where media connections go (its value mod 3):
//   0  a port where nothing listens: every attempt is refused, no thread ever
//      touches a slot, and each handler's result is checked exactly;
//   1  a listener that accepts but never answers: CREATESTREAM goes out on
//      the device's share threads while the handlers run;
//   2  the same listener, answering CREATESTREAM at once: senders
//      start, run and must all have ended when Shutdown returns.
// The rest is lines (split at '\n', at most kMaxLines). A line "REAP" moves
// the tick past the start time-out and lets the device take back every slot
// whose stream never started; a JSON request for one of the four media
// operations goes to its handler; any other line goes through the signalling
// dispatcher (controls, replies, garbage).
//
// connect() is replaced for this program: every IPv4 attempt goes to the
// loopback port of the iteration's mode, whatever IPANDPORT said, so no input
// makes it connect anywhere else; other families are refused. SleepMs is
// replaced too and waits at most 1 ms: the one-second wait of a download's
// set-up and the senders' pauses would otherwise cap the fuzzer at a few runs
// a second, and nothing checked here depends on their length.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device/dev_q5.h"
#include "media/stream_set.h"
#include "media/frame_synth.h"
#include "media/media_address.h"
#include "media/slot_state.h"
#include "net/json_read.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"
#include "platform/tick.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::atomic<uint16_t> gConnectPort{0};  // loopback port every connect() goes to

}  // namespace

extern "C" int connect(int fd, const struct sockaddr* addr, socklen_t len) {
  using ConnectFn = int (*)(int, const struct sockaddr*, socklen_t);
  static ConnectFn realConnect = reinterpret_cast<ConnectFn>(dlsym(RTLD_NEXT, "connect"));
  if (!realConnect || !addr || len < sizeof(sockaddr_in) || addr->sa_family != AF_INET) {
    errno = ECONNREFUSED;
    return -1;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = htons(gConnectPort.load());
  return realConnect(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms < 1 ? ms : 1)); }

namespace {

constexpr int kModeRefused = 0;  // 1: accepted, never answered
constexpr int kModeAnswer = 2;
constexpr size_t kMaxLines = 120;
constexpr int kKinds = 4;

// Counts the lines the checks need and drops every line (the fuzzer's output
// stays readable). Lines come from every thread. The device echoes every
// signalling text it receives to the debug channel, so an input line may read
// "dev - talk thread exit." too: start and exit lines count only when a
// sender (on a share thread) writes them, never the fuzzing thread.
class CLineCounter : public IDebugSink {
 public:
  std::thread::id fuzzThread;
  std::atomic<int32_t> nNoSlot{0};
  std::atomic<int32_t> nAddressError{0};
  std::atomic<int32_t> nStarts[kKinds] = {};
  std::atomic<int32_t> nExits[kKinds] = {};

  void OnDebugLine(std::string_view line) override {
    static const char* const kStart[kKinds] = {"dev - real thread start.", "dev - talk thread start.",
                                               "dev - download video thread start.", "dev - play video thread start."};
    static const char* const kExit[kKinds] = {"dev - real thread exit.", "dev - talk thread exit.",
                                              "dev - download video thread exit.", "dev - play video thread exit."};
    if (line == "dev - resource not enough") ++nNoSlot;
    if (line == "dev - register address error.") ++nAddressError;
    if (std::this_thread::get_id() == fuzzThread) return;
    for (int k = 0; k < kKinds; ++k) {
      if (line == kStart[k]) ++nStarts[k];
      if (line == kExit[k]) ++nExits[k];
    }
  }
};

CLineCounter gLines;

// The peer of the media connections: a bound port that refuses, and a
// listener with small receive buffers.
class CMediaPeer {
 public:
  bool Init() {
    refusing = BoundSocket(false);
    listening = BoundSocket(true);
    return refusing.fd >= 0 && listening.fd >= 0;
  }
  uint16_t Port(int mode) const { return mode == kModeRefused ? refusing.port : listening.port; }
  // Accepts what is waiting and answers CREATESTREAM when bAnswer. Nothing
  // is read: the senders soon find their connections full and wait in their
  // send time-outs instead of flooding the loopback (which would starve the
  // fuzzing thread of CPU); Shutdown must end them all the same.
  void Pump(bool bAnswer) {
    for (int fd; (fd = accept4(listening.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
      accepted.push_back(fd);
      if (bAnswer) Answer(fd);
    }
  }
  // Resets every accepted connection (no TIME_WAIT is left behind) and every
  // one still waiting in the backlog.
  void CloseAll() {
    Pump(false);
    for (int fd : accepted) {
      linger lg{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
      close(fd);
    }
    accepted.clear();
  }

 private:
  struct Bound {
    int fd = -1;
    uint16_t port = 0;
  };
  static Bound BoundSocket(bool bListen) {
    Bound b;
    b.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int small = 4096;  // accepted connections inherit it
    if (b.fd >= 0) setsockopt(b.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (b.fd < 0 || bind(b.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (bListen && listen(b.fd, SOMAXCONN) != 0) || getsockname(b.fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
      b.fd = -1;
      return b;
    }
    b.port = ntohs(a.sin_port);
    return b;
  }
  static void Answer(int fd) {
    Json::Value msg;
    msg["MODULE"] = "CERTIFICATE";
    msg["OPERATION"] = "CREATESTREAM";
    msg["RESPONSE"]["ERRORCODE"] = 0;
    uint8_t buf[SIGNAL_PACKET_BUF];
    std::string text;
    int32_t n = BuildSignalPacket(msg, buf, &text);
    if (n > 0) send(fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
  }

  Bound refusing;   // bound, never listening: connections are refused
  Bound listening;  // accepts
  std::vector<int> accepted;
};

CMediaPeer gPeer;
std::string gFramePath;

void RemoveFrameFile() { unlink(gFramePath.c_str()); }

// A one-second frame file that the live and playback senders read.
bool MakeFrameFile() {
  char path[] = "/tmp/fuzz_media_setup_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return false;
  close(fd);
  gFramePath = path;
  atexit(RemoveFrameFile);
  CFrameFileWriter out;
  SynthOptions opt;
  opt.nSeconds = 1;
  opt.nSize = 200;
  return out.Create(path) && WriteSynthFrames(out, opt) > 0 && out.Close();
}

// What the checks compare: the claim-relevant state of every slot.
struct SlotView {
  int32_t bInUse = 0;
  int32_t bStop = 0;
  int32_t bAbandoned = 0;
  int32_t nKind = 0;
  uint32_t nMask = 0;
  std::string name;
  bool operator==(const SlotView&) const = default;
};
using Snapshot = std::vector<SlotView>;

Snapshot Take(const CDevQ5& dev) {
  Snapshot out(MAX_STREAMS);
  for (int i = 0; i < MAX_STREAMS; ++i) {
    const StreamSlot& s = MediaStreamsOf(dev).slots[i];
    out[i].bInUse = s.bInUse.load();
    out[i].bStop = s.bStop.load();
    out[i].bAbandoned = s.bAbandoned.load();
    out[i].nKind = s.nKind.load();
    out[i].nMask = s.nChannelMask.load();
    // The name must end within its array, whatever was asked for.
    FUZZ_CHECK(memchr(s.szStreamName, 0, sizeof s.szStreamName) != nullptr);
    out[i].name = s.szStreamName;
  }
  return out;
}

// Every claimed slot belongs to this device and has one of the four kinds;
// the device's count of claimed slots stays within 0..50 and, while no other
// thread frees slots, equals the number of claimed slots.
void CheckClaims(const CDevQ5& dev, bool bExact) {
  int32_t claimed = 0;
  for (const StreamSlot& s : MediaStreamsOf(dev).slots) {
    if (!s.bInUse.load()) continue;
    ++claimed;
    FUZZ_CHECK(s.pDevice == &dev);
    FUZZ_CHECK(s.nKind.load() >= STREAM_LIVE && s.nKind.load() <= STREAM_PLAYBACK);
  }
  int32_t counted = MediaStreamsOf(dev).nSlotsInUse.load();
  FUZZ_CHECK(counted >= 0 && counted <= MAX_STREAMS);
  if (bExact) FUZZ_CHECK(counted == claimed);
}

struct Request {
  int32_t nKind = -1;  // STREAM_*, or -1 when the line is no media request
  bool bNameOk = false;
  std::string name;
  uint32_t nChannel = 0;
};

Request ReadRequest(const Json::Value& msg) {
  static const char* const kOps[kKinds] = {"REQUESTALIVEVIDEO", "REQUESTTALK", "REQUESTDOWNLOADVIDEO",
                                           "REQUESTREMOTEPLAYBACK"};
  Request r;
  const Json::Value& op = JsonMember(msg, "OPERATION");
  for (int k = 0; k < kKinds; ++k) {
    if (JsonIsString(op, kOps[k])) r.nKind = k;
  }
  const Json::Value& par = JsonMember(msg, "PARAMETER");
  // A slot keeps at most 39 bytes and no NUL: anything else must be refused.
  r.bNameOk = JsonString(JsonMember(par, "STREAMNAME"), &r.name) && r.name.size() < STREAM_NAME_SIZE &&
              r.name.find('\0') == std::string::npos;
  r.nChannel = static_cast<uint32_t>(JsonInt(JsonMember(par, "CHANNEL")));
  return r;
}

int CallHandler(CDevQ5& dev, int32_t nKind, const Json::Value& msg) {
  switch (nKind) {
    case STREAM_LIVE: return dev.Streams()->OnRequest(STREAM_LIVE, msg);
    case STREAM_TALK: return dev.Streams()->OnRequest(STREAM_TALK, msg);
    case STREAM_DOWNLOAD: return dev.Streams()->OnRequest(STREAM_DOWNLOAD, msg);
    default: return dev.Streams()->OnRequest(STREAM_PLAYBACK, msg);
  }
}

int FirstWhere(const Snapshot& s, bool bJoin, const std::string& name) {
  for (int i = 0; i < MAX_STREAMS; ++i) {
    bool bHit = bJoin ? s[i].bInUse && !s[i].bStop && !s[i].bAbandoned && s[i].name == name : !s[i].bInUse;
    if (bHit) return i;
  }
  return -1;
}

// Exact outcome of one request while no other thread changes a slot.
void CheckExact(const Request& q, int r, const Snapshot& before, const Snapshot& after, int32_t nNoSlot,
                int32_t nAddressError, bool bNoAddress) {
  if (!q.bNameOk || r != 0) {
    FUZZ_CHECK(r == 1);
    FUZZ_CHECK(after == before);
    if (!q.bNameOk) return;
    // A refusal of a well-named request is reported with its reason.
    FUZZ_CHECK((nNoSlot == 1 && FirstWhere(before, false, "") < 0) ||
               (nAddressError == 1 && q.nKind == STREAM_LIVE && FirstWhere(before, false, "") >= 0));
    return;
  }
  FUZZ_CHECK(nNoSlot == 0 && nAddressError == 0);
  int join = q.nKind == STREAM_LIVE ? FirstWhere(before, true, q.name) : -1;
  int at = join >= 0 ? join : FirstWhere(before, false, "");
  FUZZ_CHECK(at >= 0);
  for (int i = 0; i < MAX_STREAMS; ++i) {
    if (i != at) FUZZ_CHECK(after[i] == before[i]);
  }
  const SlotView& s = after[at];
  FUZZ_CHECK(s.bInUse == 1 && s.name == q.name);
  if (join >= 0) {
    FUZZ_CHECK(s.nKind == before[at].nKind && s.nMask == (before[at].nMask | q.nChannel));
    return;
  }
  // A connection to 0.0.0.0 is never opened: the slot is abandoned at once.
  FUZZ_CHECK(s.nKind == q.nKind && s.bAbandoned == (bNoAddress ? 1 : 0));
  if (q.nKind != STREAM_DOWNLOAD) FUZZ_CHECK(s.bStop == 0);
  if (q.nKind == STREAM_LIVE || q.nKind == STREAM_PLAYBACK) FUZZ_CHECK(s.nMask == q.nChannel);
}

void RunRequest(CDevQ5& dev, const Request& q, const Json::Value& msg, bool bExact) {
  Snapshot before = Take(dev);
  int32_t nNoSlot = gLines.nNoSlot.load();
  int32_t nAddressError = gLines.nAddressError.load();
  int r = CallHandler(dev, q.nKind, msg);
  Snapshot after = Take(dev);
  if (bExact) {
    static const int32_t kRules[kKinds] = {MEDIA_ADDR_LIVE, MEDIA_ADDR_TALK, MEDIA_ADDR_RECORDING, MEDIA_ADDR_RECORDING};
    MediaAddress addr;
    bool bNoAddress = q.nKind >= 0 &&
                      ResolveMediaAddress(kRules[q.nKind], JsonMember(JsonMember(msg, "PARAMETER"), "IPANDPORT"),
                                          dev.Settings()->nServerAddr, dev.Settings()->nServerPort, &addr) &&
                      addr.nIp == 0;
    CheckExact(q, r, before, after, gLines.nNoSlot.load() - nNoSlot, gLines.nAddressError.load() - nAddressError,
               bNoAddress);
  } else {
    FUZZ_CHECK(r == 0 || r == 1);
    if (!q.bNameOk) FUZZ_CHECK(r == 1);
  }
}

// The start time-out has passed for every claim: each slot that never
// started is given back; only running senders keep theirs.
void Reap(CDevQ5& dev) {
  AdvanceTickCount(SLOT_START_TIMEOUT_MS + 1);
  dev.Streams()->Reap();
  for (const StreamSlot& s : MediaStreamsOf(dev).slots) {
    if (!s.bInUse.load()) continue;
    FUZZ_CHECK((s.nClaimState.load() & SLOT_STATE_MASK) == SLOT_STATE_SENDING);
  }
}

void RunLine(CDevQ5& dev, std::string_view line, bool bExact) {
  if (line == "REAP") {
    Reap(dev);
    return;
  }
  Json::Value msg;
  JsonParse(line.data(), line.data() + line.size(), msg, true);
  Request q = ReadRequest(msg);
  if (q.nKind >= 0) {
    RunRequest(dev, q, msg, bExact);
    return;
  }
  Snapshot before = Take(dev);
  dev.Session().DispatchSignal(line.data(), static_cast<int32_t>(line.size()));
  if (bExact) {
    // Controls may stop a stream or change its channels, never claim or free a slot.
    Snapshot after = Take(dev);
    for (int i = 0; i < MAX_STREAMS; ++i) {
      FUZZ_CHECK(after[i].bInUse == before[i].bInUse && after[i].name == before[i].name);
    }
  }
}

bool AllSendersEnded() {
  for (int k = 0; k < kKinds; ++k) {
    if (gLines.nStarts[k].load() != gLines.nExits[k].load()) return false;
  }
  return true;
}

// After Shutdown every slot is free, every media socket closed and released
// by its share thread, and every sender that started has ended. A sender
// writes its exit line just after it gave its slot back, so the count may
// trail Shutdown's return by a moment.
void CheckShutDown(const CDevQ5& dev) {
  FUZZ_CHECK(MediaStreamsOf(dev).nSlotsInUse.load() == 0);
  for (const StreamSlot& s : MediaStreamsOf(dev).slots) {
    FUZZ_CHECK(s.bInUse.load() == 0);
    FUZZ_CHECK(!s.mediaSocket.IsOpen());
  }
  for (int i = 0; i < 2000 && !AllSendersEnded(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  FUZZ_CHECK(AllSendersEnded());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gLines.fuzzThread = std::this_thread::get_id();
  SetDebugSink(&gLines);
  FUZZ_CHECK(gPeer.Init());
  FUZZ_CHECK(MakeFrameFile());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 100000) return 0;
  const int mode = data[0] % 3;
  const bool bExact = mode == kModeRefused;
  gConnectPort.store(gPeer.Port(mode));
  InstallMediaStreams();
  auto dev = std::make_unique<CDevQ5>();
  dev->SetId("FUZZ-MEDIA");
  dev->SetServer("127.0.0.1", 1);
  dev->SetFramePath(gFramePath.c_str());
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    for (size_t n = 0; n < kMaxLines && !rest.empty(); ++n) {
      size_t eol = rest.find('\n');
      std::string line(rest.substr(0, eol));  // its own allocation: overreads show
      rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
      RunLine(*dev, line, bExact);
      CheckClaims(*dev, bExact);
      if (!bExact) gPeer.Pump(mode == kModeAnswer);
    }
  } catch (...) {
    FUZZ_CHECK(!"an exception left a media handler");
  }
  dev->Shutdown();
  CheckShutDown(*dev);
  dev.reset();
  gPeer.CloseAll();
  return 0;
}
