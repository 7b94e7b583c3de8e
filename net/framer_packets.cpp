// CFramer::FeedPackets: signalling-header packets framed in place, holding
// only an unfinished packet.
#include <algorithm>
#include <climits>

#include "net/framer.h"
#include "net/framer_steps.h"
#include "net/packet.h"

namespace {
constexpr size_t FRAMER_KEEP_HELD = 65536;  // a larger held buffer is given back once its packet is out

// What a step may look at: beyond one packet the count never matters.
int32_t StepAvail(size_t n) { return n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n); }
}  // namespace

int32_t CFramer::FeedPackets(const uint8_t* data, size_t len, PacketSink sink, void* ctx) {
  size_t off = 0;
  PacketInfo info;
  if (!held_.empty()) {
    FrameStep step = FillHeld(data, len, &off, &info);
    if (step == FRAME_STEP_REFUSE) return FEED_BAD;
    if (step != FRAME_STEP_DELIVER) return FEED_OK;
    bool bGoOn = sink(ctx, info, held_.data());
    ReleaseHeld();
    if (!bGoOn) return FEED_STOP;
  }
  while (off < len) {
    FrameStep step = FrameNextPacket(data + off, StepAvail(len - off), &info);
    if (step == FRAME_STEP_REFUSE) {
      KeepRefused(data + off, len - off, nullptr, 0);
      return FEED_BAD;
    }
    if (step == FRAME_STEP_STOP) {
      // Only what arrived is held: a header that announces megabytes costs
      // nothing until the megabytes come.
      held_.assign(data + off, data + len);
      return FEED_OK;
    }
    if (!sink(ctx, info, data + off)) return FEED_STOP;
    off += static_cast<size_t>(info.nPacketLen);
  }
  return FEED_OK;
}

// Moves bytes into the held packet, first up to its header and then, once the
// header is read, up to its length. DELIVER when it is whole (*pUsed bytes of
// data taken), STOP when every byte was taken and it is still short.
FrameStep CFramer::FillHeld(const uint8_t* data, size_t len, size_t* pUsed, PacketInfo* info) {
  size_t off = 0;
  FrameStep step = FRAME_STEP_STOP;
  for (;;) {
    size_t need = static_cast<size_t>(PACKET_HEAD_LEN);
    if (held_.size() >= need) {
      step = FrameNextPacket(held_.data(), StepAvail(held_.size()), info);
      if (step == FRAME_STEP_REFUSE) {
        KeepRefused(held_.data(), held_.size(), data + off, len - off);
        return step;
      }
      if (step == FRAME_STEP_DELIVER) break;
      need = static_cast<size_t>(info->nPacketLen);
    }
    size_t take = std::min(need - held_.size(), len - off);
    held_.insert(held_.end(), data + off, data + off + take);
    off += take;
    if (held_.size() < need) break;  // every byte taken, the packet still short
  }
  *pUsed = off;
  return step;
}

// The refused header and what followed it, as much as a report shows and one
// byte more.
void CFramer::KeepRefused(const uint8_t* a, size_t aLen, const uint8_t* b, size_t bLen) {
  const size_t keep = FRAMER_REFUSED_SHOWN + 1;
  size_t fromA = std::min(aLen, keep);
  refused_.assign(reinterpret_cast<const char*>(a), fromA);
  if (b) refused_.append(reinterpret_cast<const char*>(b), std::min(bLen, keep - fromA));
}

void CFramer::ReleaseHeld() {
  held_.clear();
  if (held_.capacity() > FRAMER_KEEP_HELD) std::vector<uint8_t>().swap(held_);
}
