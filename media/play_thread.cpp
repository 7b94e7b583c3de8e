#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "device/media_host.h"
#include "media/media_senders.h"
#include "media/slot_state.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"

namespace {

constexpr uint32_t kPausePollMs = 100;  // a paused stream looks again this often
constexpr uint32_t kEmptyReadMs = 200;  // the file gave nothing: wait, then from its start
constexpr int32_t kPlaybackChannels = 4;

// The remote-playback sender: the frame file in raw blocks of up to 8,000
// bytes, each block sent on channels 0 to 3, looping at the end of the file.
class CPlaySender {
 public:
  CPlaySender(StreamSlot& s, int fd) : slot(s), dev(*s.pDevice), nFd(fd) {}
  void Run();

 private:
  // Reads the next block into the packet; false when nothing came back.
  bool ReadBlock();
  void SendBlock();

  StreamSlot& slot;
  IMediaHost& dev;
  int nFd;
  uint8_t packet[PACKET_HEAD_LEN + PLAYBACK_BLOCK] = {};
  int32_t nBlockLen = PLAYBACK_BLOCK;
  bool bPending = false;  // a block was read but not yet sent on any channel
  int32_t nFailures = 0;
};

void CPlaySender::Run() {
  WritePacketHead(packet, NTYPE_PLAYBACK, 0, nBlockLen);
  while (!dev.MediaStopping()) {
    if (slot.bStop.load()) break;
    if (!slot.bPlaying.load()) {
      SleepMs(kPausePollMs);
      continue;
    }
    if (nFailures > MEDIA_MAX_FAILURES) break;
    if (!bPending && !ReadBlock()) {
      SleepMs(kEmptyReadMs);
      continue;
    }
    SendBlock();
  }
}

bool CPlaySender::ReadBlock() {
  ssize_t n;
  do {
    n = read(nFd, packet + PACKET_HEAD_LEN, PLAYBACK_BLOCK);
  } while (n < 0 && errno == EINTR);
  if (n < PLAYBACK_BLOCK) lseek(nFd, 0, SEEK_SET);  // the file loops
  if (n <= 0) return false;
  nBlockLen = static_cast<int32_t>(n);
  WritePacketHead(packet, NTYPE_PLAYBACK, 0, nBlockLen);
  bPending = true;
  return true;
}

// All four channels are tried whatever the others did; a block that failed on
// every channel stays pending and is offered again on the next pass.
void CPlaySender::SendBlock() {
  for (int32_t ch = 0; ch < kPlaybackChannels; ++ch) {
    packet[2] = static_cast<uint8_t>(ch);
    packet[3] = 0;
    if (slot.mediaSocket.Send(packet, nBlockLen + PACKET_HEAD_LEN, MEDIA_SEND_TIMEOUT_MS) > 0) {
      nFailures = 0;
      bPending = false;
    } else {
      ReportSendFailed();
      SleepMs(MEDIA_FAILURE_PAUSE_MS);
      ++nFailures;
    }
  }
}

}  // namespace

int PlayVideoThread(void* param) {
  StreamSlot& slot = *static_cast<StreamSlot*>(param);
  OutputDebugLine("dev - play video thread start.");
  slot.bPlaying.store(1);
  std::string path = slot.pDevice->MediaFramePath();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    OutputDebugLine("dev - open file failed.");
    FinishSlot(slot);
    return 0;
  }
  CPlaySender sender(slot, fd);
  sender.Run();
  close(fd);
  FinishSlot(slot);
  OutputDebugLine("dev - play video thread exit.");
  return 0;
}
