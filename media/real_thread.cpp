#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "device/media_host.h"
#include "media/frame_reader.h"
#include "media/live_pacing.h"
#include "media/media_senders.h"
#include "media/slot_state.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"
#include "platform/tick.h"

namespace {

constexpr uint32_t kOuterPauseMs = 100;  // between outer passes; an early chunk waits this long
constexpr int32_t kChannels = 32;

// The live sender: plays the frame file chunk by chunk in real time and sends
// every chunk once per served channel. Owns the reader (with its 2,000,000-byte
// window) and the 1,000,000-byte packet buffer for its whole life.
class CLiveSender {
 public:
  explicit CLiveSender(StreamSlot& s) : slot(s), dev(*s.pDevice) {}
  void Run();

 private:
  bool TurnedOff() const;
  void OpenFile();
  void InnerLoop();
  void SendToChannels(const FrameInfo& info);

  StreamSlot& slot;
  IMediaHost& dev;
  CFrameReader reader;
  std::unique_ptr<uint8_t[]> pPacket;
  uint32_t dwStart = 0;
  LivePacing pacing;
  uint32_t nFailed = 0;  // bit i: channel i failed and waits for the next key frame
};

void CLiveSender::Run() {
  OutputDebugLine("dev - real thread start.");
  pPacket.reset(new (std::nothrow) uint8_t[LIVE_PACKET_BUF]);
  dwStart = GetTickCount();
  bool bFirstPass = true;
  while (pPacket && !slot.bStop.load()) {
    if (TurnedOff() || slot.nChannelMask.load() == 0) break;
    if (bFirstPass) {
      bFirstPass = false;
      OpenFile();
    }
    if (reader.IsOpen()) InnerLoop();
    SleepMs(kOuterPauseMs);
  }
  reader.Close();
  pPacket.reset();
  FinishSlot(slot);
  OutputDebugLine("dev - real thread exit.");
}

// The live-view turn-off interval (seconds, 0 = never) since the thread began.
bool CLiveSender::TurnedOff() const {
  int32_t off = dev.MediaLiveViewOffSeconds();
  if (off <= 0) return false;
  uint32_t elapsed = GetTickCount() - dwStart;
  return static_cast<uint64_t>(elapsed) > static_cast<uint64_t>(off) * 1000u;
}

// Opened once; a file that cannot be opened leaves the sender idle until its
// stream ends.
void CLiveSender::OpenFile() {
  std::string path = dev.MediaFramePath();
  OutputDebugLine(reader.Open(path.c_str()) ? "dev - open file ok." : "dev - open file failed.");
  pacing = LivePacing();
}

void CLiveSender::InnerLoop() {
  while (!slot.bStop.load() && slot.nChannelMask.load() != 0) {
    FrameInfo info;
    bool bRestarted = false;
    int32_t r = reader.Next(&info, &bRestarted);
    if (bRestarted) pacing.nBaseTs = 0;
    if (r == CHUNK_IDLE) return;  // nothing to play: the outer loop pauses
    if (r != CHUNK_OK) continue;
    if (info.nTotalLen > LIVE_MAX_CHUNK) {
      reader.Consume(info);  // does not fit the packet buffer
      continue;
    }
    if (info.bVideo &&
        PaceVideoChunk(pacing, static_cast<uint32_t>(info.nTimestampMs), GetTickCount()) == LIVE_PACE_EARLY) {
      return;  // offered again after the outer loop's pause
    }
    // A chunk that every served channel passes over while it waits for a key
    // frame is consumed like a sent one: offering it again could never end
    // the wait, and the key frame comes at its own time.
    SendToChannels(info);
    reader.Consume(info);
  }
}

// The chunk is copied once; only nChannel changes between the copies sent.
void CLiveSender::SendToChannels(const FrameInfo& info) {
  uint8_t* packet = pPacket.get();
  WritePacketHead(packet, NTYPE_LIVE, 0, info.nTotalLen);
  memcpy(packet + PACKET_HEAD_LEN, reader.Chunk(), static_cast<size_t>(info.nTotalLen));
  uint32_t mask = slot.nChannelMask.load();
  for (int32_t i = 0; i < kChannels; ++i) {
    uint32_t bit = 1u << i;
    if (!(mask & bit)) continue;
    if (info.bKeyFrame) nFailed &= ~bit;
    if (nFailed & bit) continue;
    packet[2] = static_cast<uint8_t>(i);
    packet[3] = 0;
    if (slot.mediaSocket.Send(packet, info.nTotalLen + PACKET_HEAD_LEN, MEDIA_SEND_TIMEOUT_MS) <= 0) {
      nFailed |= bit;
      ReportSendFailed();
    }
  }
}

}  // namespace

int RealThread(void* param) {
  CLiveSender sender(*static_cast<StreamSlot*>(param));
  sender.Run();
  return 0;
}
