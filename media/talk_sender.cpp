#include <new>

#include "media/loop_sender.h"
#include "media/media_senders.h"
#include "media/stream_slot.h"
#include "platform/debug_log.h"

namespace {

constexpr int32_t kPacketLen = PACKET_HEAD_LEN + TALK_PAYLOAD;

// The device has no microphone: it sends 80 bytes of silence every 200 ms
// until the stream is stopped. Failed sends are neither logged nor counted.
class CTalkSender final : public CLoopSender {
 public:
  explicit CTalkSender(StreamSlot& s) : CLoopSender(s, "dev - talk thread exit.") {
    WritePacketHead(packet, NTYPE_TALK, 0, TALK_PAYLOAD);
  }

 private:
  void Begin() override {
    OutputDebugLine("dev - talk thread start.");
    Step();
  }
  void Step() override {
    if (slot.bStop.load()) return End();
    slot.mediaSocket.Send(packet, kPacketLen, 0);
    StepAfter(TALK_PERIOD_MS);
  }

  uint8_t packet[kPacketLen] = {};
};

}  // namespace

CLoopSender* MakeTalkSender(StreamSlot& slot) { return new (std::nothrow) CTalkSender(slot); }
