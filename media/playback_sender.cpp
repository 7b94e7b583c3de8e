#include <new>
#include <string>

#include "device/media_host.h"
#include "media/frame_file.h"
#include "media/loop_sender.h"
#include "media/media_senders.h"
#include "media/stream_slot.h"
#include "platform/debug_log.h"

namespace {

constexpr uint32_t kPausePollMs = 100;  // a paused stream looks again this often
constexpr uint32_t kEmptyReadMs = 200;  // the file gave nothing: wait, then from its start
constexpr int32_t kPlaybackChannels = 4;

// The remote-playback sender: the frame file in raw blocks of up to 8,000
// bytes, each block sent on channels 0 to 3, looping at the end of the file.
// The blocks are sent straight from the file's shared bytes.
class CPlaySender final : public CLoopSender {
 public:
  explicit CPlaySender(StreamSlot& s) : CLoopSender(s, "dev - play video thread exit.") {}

 private:
  void Begin() override;
  void Step() override;
  // Takes the next block; false when the file gave nothing.
  bool ReadBlock();
  // Sends the block from channel nNextChannel on; false while the stream
  // pauses or waits for room (the next step carries on there).
  bool SendBlock();

  std::shared_ptr<const FrameFileBytes> file;
  size_t nReadPos = 0;  // where the next block starts
  const uint8_t* pBlock = nullptr;
  int32_t nBlockLen = PLAYBACK_BLOCK;
  uint8_t head[PACKET_HEAD_LEN] = {};
  bool bPending = false;  // a block was read but not yet sent on any channel
  int32_t nNextChannel = 0;
  int32_t nFailures = 0;
};

void CPlaySender::Begin() {
  OutputDebugLine("dev - play video thread start.");
  slot.bPlaying.store(1);
  std::string path = dev.MediaFramePath();
  file = LoadFrameFile(path.c_str());
  if (!file) {
    OutputDebugLine("dev - open file failed.");
    return End(false);
  }
  Step();
}

void CPlaySender::Step() {
  if (dev.MediaStopping()) return End();
  if (nNextChannel > 0 && !SendBlock()) return;  // a block half sent carries on first
  for (int32_t n = 0; !dev.MediaStopping(); ++n) {
    if (slot.bStop.load()) break;
    if (!slot.bPlaying.load()) return StepAfter(kPausePollMs);
    if (nFailures > MEDIA_MAX_FAILURES) break;
    if (n == MEDIA_UNITS_PER_STEP) return StepAfter(0);  // the loop serves the others first
    if (!bPending && !ReadBlock()) return StepAfter(kEmptyReadMs);
    if (!SendBlock()) return;
  }
  file.reset();
  End();
}

bool CPlaySender::ReadBlock() {
  const size_t size = file->data.size();
  size_t n = nReadPos < size ? size - nReadPos : 0;
  if (n > PLAYBACK_BLOCK) n = PLAYBACK_BLOCK;
  pBlock = file->data.data() + (n > 0 ? nReadPos : 0);
  nReadPos = n < PLAYBACK_BLOCK ? 0 : nReadPos + n;  // the file loops
  if (n == 0) return false;
  nBlockLen = static_cast<int32_t>(n);
  WritePacketHead(head, NTYPE_PLAYBACK, 0, nBlockLen);
  bPending = true;
  return true;
}

// All four channels are tried whatever the others did; a block that failed on
// every channel stays pending and is offered again on the next pass. A failed
// send pauses MEDIA_FAILURE_PAUSE_MS before the next channel.
bool CPlaySender::SendBlock() {
  while (nNextChannel < kPlaybackChannels) {
    head[2] = static_cast<uint8_t>(nNextChannel);
    head[3] = 0;
    SendResult r = SendTimed(head, PACKET_HEAD_LEN, pBlock, nBlockLen);
    if (r == SendResult::WAIT) return false;
    ++nNextChannel;
    if (r == SendResult::SENT) {
      nFailures = 0;
      bPending = false;
      continue;
    }
    ReportSendFailed();
    ++nFailures;
    if (nNextChannel == kPlaybackChannels) nNextChannel = 0;
    StepAfter(MEDIA_FAILURE_PAUSE_MS);
    return false;
  }
  nNextChannel = 0;
  return true;
}

}  // namespace

CLoopSender* MakePlaybackSender(StreamSlot& slot) { return new (std::nothrow) CPlaySender(slot); }
