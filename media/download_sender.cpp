#include <cstring>
#include <new>

#include "device/media_host.h"
#include "media/loop_sender.h"
#include "media/media_messages.h"
#include "media/media_senders.h"
#include "media/stream_slot.h"
#include "platform/debug_log.h"

namespace {

constexpr int32_t kPacketLen = PACKET_HEAD_LEN + DOWNLOAD_BLOCK;  // 8,012
constexpr uint32_t kDrainPollMs = 5;
constexpr uint32_t kDrainLimitMs = 10000;  // up to 10 s for the peer to take the tail

// Header of type 3 on channel 0, then "123456789:" and zero filler: the same
// for every packet of every download, so one copy serves them all.
struct DownloadPacket {
  uint8_t bytes[kPacketLen] = {};
  DownloadPacket() {
    WritePacketHead(bytes, NTYPE_DOWNLOAD, 0, DOWNLOAD_BLOCK);
    for (int i = 0; i < 10; ++i) bytes[PACKET_HEAD_LEN + i] = static_cast<uint8_t>(0x31 + i);
  }
};

const DownloadPacket& ThePacket() {
  static const DownloadPacket packet;
  return packet;
}

// No pause between successful sends: the connection sets the rate. The
// stream's bStop is not consulted; a lost connection ends it by its failures.
// A failed send pauses MEDIA_FAILURE_PAUSE_MS. A complete download waits until
// the peer has everything before it closes, since closing resets the
// connection and drops whatever is still queued.
class CDownloadSender final : public CLoopSender {
 public:
  explicit CDownloadSender(StreamSlot& s) : CLoopSender(s, "dev - download video thread exit.") {}

 private:
  void Begin() override;
  void Step() override;
  void Send();
  void Drain();

  int64_t nCounted = 0;
  int32_t nFailures = 0;
  bool bDraining = false;
  uint32_t nDrainedMs = 0;
};

void CDownloadSender::Begin() {
  OutputDebugLine("dev - download video thread start.");
  if (dev.MediaStopping()) return End();
  Send();
}

void CDownloadSender::Step() {
  if (bDraining) return Drain();
  if (dev.MediaStopping()) return End();
  Send();
}

void CDownloadSender::Send() {
  const uint8_t* packet = ThePacket().bytes;
  for (int32_t n = 0; nCounted < DOWNLOAD_FILE_SIZE && nFailures <= MEDIA_MAX_FAILURES; ++n) {
    if (n == MEDIA_UNITS_PER_STEP) return StepAfter(0);  // the loop serves the others first
    SendResult r = SendTimed(packet, PACKET_HEAD_LEN, packet + PACKET_HEAD_LEN, DOWNLOAD_BLOCK);
    if (r == SendResult::WAIT) return;
    if (r == SendResult::FAILED) {
      ReportSendFailed();
      ++nFailures;
      return StepAfter(MEDIA_FAILURE_PAUSE_MS);
    }
    nFailures = 0;
    nCounted += DOWNLOAD_BLOCK;
    if (dev.MediaStopping()) return End();
  }
  if (nCounted < DOWNLOAD_FILE_SIZE) return End();
  bDraining = true;
  Drain();
}

// Looks every kDrainPollMs whether the peer has acknowledged everything; a
// closed connection or the device going ends the wait.
void CDownloadSender::Drain() {
  if (dev.MediaStopping() || nDrainedMs >= kDrainLimitMs || slot.mediaSocket.WaitSent(0)) return End();
  if (!slot.mediaSocket.IsOpen()) return End();
  nDrainedMs += kDrainPollMs;
  StepAfter(kDrainPollMs);
}

}  // namespace

CLoopSender* MakeDownloadSender(StreamSlot& slot) { return new (std::nothrow) CDownloadSender(slot); }
