// The signalling dispatcher of a device that is not connected (its replies
// fail to send, which is fine here), with three claimed stream slots: the
// input goes in as a signalling text and as a whole packet. Nothing may
// throw; control messages may only stop, pause or resume the first slot of a
// name and clear bits of its channel mask; a live request naming a running
// stream joins the first slot of that name, whatever its kind, and may add
// channels to it; no slot is freed or renamed.
//
// Media requests may open connections to the address in their "IPANDPORT"
// member. So that no input makes this program connect anywhere, "IPANDPORT"
// is renamed in the input, and connect() itself is replaced for this program:
// every IPv4 attempt goes to 127.0.0.1 port 1 (where nothing listens), every
// other family is refused.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "device/dev_q5.h"
#include "media/stream_set.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

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
  local.sin_port = htons(1);
  return realConnect(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

namespace {

struct SlotSeed {
  const char* szName;
  uint32_t nMask;
  int32_t bPlaying;
};
// Slot 2 repeats the name of slot 0: control messages must reach slot 0 only.
constexpr SlotSeed kSlots[] = {{"a", 0x0000FFFFu, 1}, {"b", 0x5u, 0}, {"a", 0xFFFFFFFFu, 1}};
constexpr int kClaimed = 3;

CDevQ5& Device() {
  // Never destroyed: destroying waits for streams that no sender serves.
  static CDevQ5* dev = [] {
    InstallMediaStreams();
    auto* d = new CDevQ5;
    d->SetId("FUZZ-0001");
    d->SetServer("127.0.0.1", 1);
    return d;
  }();
  return *dev;
}

void ClaimSlots(CDevQ5& dev) {
  for (int i = 0; i < kClaimed; ++i) {
    StreamSlot& s = MediaStreamsOf(dev).slots[i];
    snprintf(s.szStreamName, sizeof s.szStreamName, "%s", kSlots[i].szName);
    s.nKind.store(i == 1 ? STREAM_PLAYBACK : STREAM_LIVE);
    s.nChannelMask.store(kSlots[i].nMask);
    s.bPlaying.store(kSlots[i].bPlaying);
    s.bStop.store(0);
    s.bInUse.store(1);
  }
}

void CheckSlots(CDevQ5& dev, bool bLiveRequest) {
  for (int i = 0; i < kClaimed; ++i) {
    StreamSlot& s = MediaStreamsOf(dev).slots[i];
    FUZZ_CHECK(s.bInUse.load() == 1);
    FUZZ_CHECK(strcmp(s.szStreamName, kSlots[i].szName) == 0);
    // Only a live request adds channels, and only to the first slot of a name.
    if (!(bLiveRequest && i < 2)) FUZZ_CHECK((s.nChannelMask.load() & ~kSlots[i].nMask) == 0);
    FUZZ_CHECK(s.bPlaying.load() == 0 || s.bPlaying.load() == 1);
    FUZZ_CHECK(s.bStop.load() == 0 || s.bStop.load() == 1);
  }
  // The second slot named "a" is never the one a control message finds.
  StreamSlot& dup = MediaStreamsOf(dev).slots[2];
  FUZZ_CHECK(dup.nChannelMask.load() == kSlots[2].nMask && dup.bPlaying.load() == 1 && dup.bStop.load() == 0);
  int32_t bOnline = dev.Session().OnlineFlag().load();
  FUZZ_CHECK(bOnline == 0 || bOnline == 1);
}

std::string RenameAddressMember(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t at = text.find("IPANDPORT"); at != std::string::npos; at = text.find("IPANDPORT", at + 9))
    text[at + 8] = 'X';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);  // also silences "dev - send data failed."
  Device();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 100000) return 0;
  CDevQ5& dev = Device();
  const std::string text = RenameAddressMember(data, size);
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
  memcpy(copy.get(), text.data(), size);
  const int32_t len = static_cast<int32_t>(size);

  const bool bLive = text.find("REQUESTALIVEVIDEO") != std::string::npos;
  ClaimSlots(dev);
  try {
    dev.Session().DispatchSignal(reinterpret_cast<const char*>(copy.get()), len);
    CheckSlots(dev, bLive);
    ClaimSlots(dev);
    dev.Session().OnSignalPacket(copy.get(), len);
    CheckSlots(dev, bLive);
  } catch (...) {
    FUZZ_CHECK(!"an exception left the dispatcher");
  }
  return 0;
}
