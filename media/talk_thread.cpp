#include "media/stream_slot.h"
#include "media/media_senders.h"
#include "media/slot_state.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"

// The device has no microphone: it sends 80 bytes of silence every 200 ms
// until the stream is stopped. Failed sends are neither logged nor counted.
int TalkThread(void* param) {
  StreamSlot& slot = *static_cast<StreamSlot*>(param);
  OutputDebugLine("dev - talk thread start.");
  uint8_t packet[PACKET_HEAD_LEN + TALK_PAYLOAD] = {};
  WritePacketHead(packet, NTYPE_TALK, 0, TALK_PAYLOAD);
  while (!slot.bStop.load()) {
    slot.mediaSocket.Send(packet, static_cast<int32_t>(sizeof packet), 0);
    SleepMs(TALK_PERIOD_MS);
  }
  FinishSlot(slot);
  OutputDebugLine("dev - talk thread exit.");
  return 0;
}
