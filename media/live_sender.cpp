#include <cstring>
#include <new>
#include <string>

#include "device/media_host.h"
#include "media/frame_reader.h"
#include "media/live_pacing.h"
#include "media/loop_sender.h"
#include "media/media_senders.h"
#include "media/stream_slot.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

namespace {

constexpr uint32_t kOuterPauseMs = 100;  // between outer passes; an early chunk waits this long
constexpr int32_t kChannels = 32;

// The live sender: plays the frame file chunk by chunk in real time and sends
// every chunk once per served channel. Its passes over the file are steps of
// the loop: a pass ends at a chunk that is not due yet, an idle file, a stop
// or no channel left, and the next starts kOuterPauseMs later. The chunks are
// sent straight from the file's shared bytes behind a head per channel.
class CLiveSender final : public CLoopSender {
 public:
  explicit CLiveSender(StreamSlot& s) : CLoopSender(s, "dev - real thread exit.") {}

 private:
  enum class At { OUTER, INNER, CHANNELS };

  void Begin() override;
  void Step() override;
  bool TurnedOff() const;
  void OpenFile();
  void Outer();
  void Pause();
  void Inner();
  // Sends the current chunk from channel nNextChannel on; false while a send
  // waits for room (the next step carries on from that channel).
  bool SendToChannels();
  void Finish();

  At at = At::OUTER;
  CFrameReader reader;
  uint32_t dwStart = 0;
  bool bFirstPass = true;
  LivePacing pacing;
  uint32_t nFailed = 0;  // bit i: channel i failed and waits for the next key frame
  // The chunk being sent: its description, its head, the channels it goes to.
  FrameInfo chunk;
  uint8_t head[PACKET_HEAD_LEN] = {};
  uint32_t nMask = 0;
  int32_t nNextChannel = 0;
};

void CLiveSender::Begin() {
  OutputDebugLine("dev - real thread start.");
  dwStart = GetTickCount();
  Outer();
}

void CLiveSender::Step() {
  switch (at) {
    case At::OUTER: return Outer();
    case At::INNER: return Inner();
    case At::CHANNELS:
      if (!SendToChannels()) return;
      reader.Consume(chunk);
      return Inner();
  }
}

// The live-view turn-off interval (seconds, 0 = never) since the sender began.
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

void CLiveSender::Outer() {
  if (slot.bStop.load() || dev.MediaStopping() || TurnedOff() || slot.nChannelMask.load() == 0) return Finish();
  if (bFirstPass) {
    bFirstPass = false;
    OpenFile();
  }
  if (!reader.IsOpen()) return Pause();
  Inner();
}

// A stopped stream ends now: the pause gives channels that were all removed
// the time to be asked for again, and a stopped stream cannot be.
void CLiveSender::Pause() {
  at = At::OUTER;
  if (slot.bStop.load() || dev.MediaStopping()) return Finish();
  StepAfter(kOuterPauseMs);
}

void CLiveSender::Inner() {
  at = At::INNER;
  for (int32_t n = 0;; ++n) {
    // A sender behind real time stays in this loop while it catches up, so
    // the device stopping is looked at here too, not only between passes:
    // otherwise a loaded loop keeps every stream of a quitting fleet going
    // until its device's turn comes to stop it.
    if (slot.bStop.load() || dev.MediaStopping() || slot.nChannelMask.load() == 0) return Pause();
    if (n == MEDIA_UNITS_PER_STEP) return StepAfter(0);  // the loop serves the others first
    bool bRestarted = false;
    int32_t r = reader.Next(&chunk, &bRestarted);
    if (bRestarted) pacing.nBaseTs = 0;
    if (r == CHUNK_IDLE) return Pause();  // nothing to play
    if (r != CHUNK_OK) continue;
    if (chunk.nTotalLen > LIVE_MAX_CHUNK) {
      reader.Consume(chunk);  // too big for a live packet
      continue;
    }
    if (chunk.bVideo &&
        PaceVideoChunk(pacing, static_cast<uint32_t>(chunk.nTimestampMs), GetTickCount()) == LIVE_PACE_EARLY) {
      return Pause();  // offered again after the pause
    }
    // A chunk that every served channel passes over while it waits for a key
    // frame is consumed like a sent one: offering it again could never end
    // the wait, and the key frame comes at its own time.
    WritePacketHead(head, NTYPE_LIVE, 0, chunk.nTotalLen);
    nMask = slot.nChannelMask.load();
    nNextChannel = 0;
    if (!SendToChannels()) return;
    reader.Consume(chunk);
  }
}

bool CLiveSender::SendToChannels() {
  at = At::CHANNELS;
  for (; nNextChannel < kChannels; ++nNextChannel) {
    uint32_t bit = 1u << nNextChannel;
    if (!(nMask & bit)) continue;
    if (chunk.bKeyFrame) nFailed &= ~bit;
    if (nFailed & bit) continue;
    head[2] = static_cast<uint8_t>(nNextChannel);
    head[3] = 0;
    SendResult r = SendTimed(head, PACKET_HEAD_LEN, reader.Chunk(), chunk.nTotalLen);
    if (r == SendResult::WAIT) return false;
    if (r == SendResult::FAILED) {
      nFailed |= bit;
      ReportSendFailed();
    }
  }
  at = At::INNER;
  return true;
}

void CLiveSender::Finish() {
  reader.Close();
  End();
}

}  // namespace

CLoopSender* MakeLiveSender(StreamSlot& slot) { return new (std::nothrow) CLiveSender(slot); }
