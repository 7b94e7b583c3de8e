#include <cstring>
#include <string_view>

#include "device/media_host.h"
#include "media/loop_sender.h"
#include "media/stream_set.h"
#include "media/media_messages.h"
#include "media/media_senders.h"
#include "media/slot_state.h"
#include "net/json_read.h"
#include "net/latency_recorder.h"
#include "net/load_counters.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

// Everything here runs on the loop thread of the media connection, where its
// sender lives too.

namespace {

// One sender per claim: a repeated answer, or one that arrives after the
// device began taking the slot back, starts nothing.
void StartSender(StreamSlot& slot) {
  if (!TryStartSlotSender(slot)) return;
  CountMessage(MSG_STREAM);
  if (!CLoopSender::Start(slot)) UndoSlotSender(slot);
}

void OnMediaClosed(StreamSlot& slot) {
  uint32_t phase = slot.nClaimState.load() & SLOT_STATE_MASK;
  // A running stream whose connection went without being asked to (not a stop,
  // not the device going) was dropped.
  if (phase == SLOT_STATE_SENDING && !slot.bStop.load() && !slot.pDevice->MediaStopping())
    CountFailure(FAIL_STREAM_DROPPED);
  slot.bStop.store(1);
  slot.bCreatePending.store(0);
  if (phase == SLOT_STATE_OPENING || phase == SLOT_STATE_WAITING) slot.bAbandoned.store(1);
  if (slot.pSender) slot.pSender->Wake();
}

void OnMediaData(StreamSlot* slot, const uint8_t* data, int32_t len) {
  if (!slot || !data || len < PACKET_HEAD_LEN) return;
  PacketInfo info;
  if (!ParsePacketHead(data, &info)) return;
  if (info.nType == NTYPE_TALK) {
    DebugPrintf("devq5 - recv auido data, len = %d", info.nPacketLen);
    return;
  }
  if (info.nType != NTYPE_SIGNAL) return;
  // Never read past the delivered bytes; the text ends at its first NUL.
  int32_t avail = len - info.nHeadLen;
  if (avail <= 0) return;
  const char* text = reinterpret_cast<const char*>(data + info.nHeadLen);
  size_t limit = static_cast<size_t>(info.nDataLen < avail ? info.nDataLen : avail);
  const void* nul = memchr(text, 0, limit);
  size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : limit;
  Json::Value msg;
  JsonParse(text, text + n, msg, true);
  OutputDebugLine(std::string_view(text, n));
  if (!JsonIsString(JsonMember(msg, "OPERATION"), "CREATESTREAM")) return;
  if (slot->bCreatePending.exchange(0)) RecordLatencySince(LAT_STREAM, slot->dwCreateSentUs.load());
  StartSender(*slot);
}

void SendCreateStream(StreamSlot& slot) {
  slot.dwCreateSentUs.store(GetMicroTicks());
  if (::SendSignalPacket(slot.mediaSocket, BuildCreateStream(slot.szStreamName), 2000, 1)) slot.bCreatePending.store(1);
}

}  // namespace

int CStreamSet::MediaCallback(void* pUser, uint8_t* data, int32_t len, uint32_t, int32_t, int32_t event) {
  auto* slot = static_cast<StreamSlot*>(pUser);
  switch (event) {
    case SOCK_EVENT_DATA: OnMediaData(slot, data, len); break;
    case SOCK_EVENT_CONNECTED: SendCreateStream(*slot); break;
    case SOCK_EVENT_CLOSED: OnMediaClosed(*slot); break;
    case SOCK_EVENT_DRAINED:
      if (slot->pSender) slot->pSender->OnDrained();
      break;
    default: break;
  }
  return 0;
}
