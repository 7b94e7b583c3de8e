#include <cstring>

#include "device/media_host.h"
#include "media/media_messages.h"
#include "media/media_senders.h"
#include "media/slot_state.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"

namespace {

constexpr int32_t kPacketLen = PACKET_HEAD_LEN + DOWNLOAD_BLOCK;  // 8,012
constexpr uint32_t kDrainStepMs = 100;
constexpr int32_t kDrainSteps = 100;  // up to 10 s for the peer to take the tail

// Closing resets the connection, which drops whatever is still queued: a
// complete download first waits until the peer has everything.
void DrainBeforeClose(StreamSlot& slot, const IMediaHost& dev) {
  for (int32_t i = 0; i < kDrainSteps && !dev.MediaStopping(); ++i) {
    if (slot.mediaSocket.WaitSent(kDrainStepMs)) return;
  }
}

// Header of type 3 on channel 0, then "123456789:" and zero filler.
void BuildDownloadPacket(uint8_t* packet) {
  memset(packet, 0, kPacketLen);
  WritePacketHead(packet, NTYPE_DOWNLOAD, 0, DOWNLOAD_BLOCK);
  for (int i = 0; i < 10; ++i) packet[PACKET_HEAD_LEN + i] = static_cast<uint8_t>(0x31 + i);
}

}  // namespace

// No pause between successful sends: the connection sets the rate. The
// stream's bStop is not consulted; a lost connection ends it by its failures.
int DownloadVideoThread(void* param) {
  StreamSlot& slot = *static_cast<StreamSlot*>(param);
  IMediaHost& dev = *slot.pDevice;
  OutputDebugLine("dev - download video thread start.");
  uint8_t packet[kPacketLen];
  BuildDownloadPacket(packet);
  int64_t nCounted = 0;
  int32_t nFailures = 0;
  if (!dev.MediaStopping()) {
    while (nCounted < DOWNLOAD_FILE_SIZE && nFailures <= MEDIA_MAX_FAILURES) {
      if (slot.mediaSocket.Send(packet, kPacketLen, MEDIA_SEND_TIMEOUT_MS) > 0) {
        nFailures = 0;
        nCounted += DOWNLOAD_BLOCK;
      } else {
        ReportSendFailed();
        SleepMs(MEDIA_FAILURE_PAUSE_MS);
        ++nFailures;
      }
      if (dev.MediaStopping()) break;
    }
    if (nCounted >= DOWNLOAD_FILE_SIZE) DrainBeforeClose(slot, dev);
  }
  FinishSlot(slot);
  OutputDebugLine("dev - download video thread exit.");
  return 0;
}
