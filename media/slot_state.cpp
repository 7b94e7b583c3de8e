#include "media/slot_state.h"

#include <atomic>

#include "media/stream_set.h"
#include "platform/tick.h"

namespace {

std::atomic<uint32_t> g_slotChanges{0};

uint32_t Phase(uint32_t state) { return state & SLOT_STATE_MASK; }
uint32_t WithPhase(uint32_t state, uint32_t phase) { return (state & ~SLOT_STATE_MASK) | phase; }

}  // namespace

void BeginSlotClaim(StreamSlot& s) {
  s.bAbandoned.store(0);
  s.dwClaimed.store(GetTickCount());
  uint32_t serial = (s.nClaimState.load() & ~SLOT_STATE_MASK) + SLOT_CLAIM_STEP;
  s.nClaimState.store(serial | SLOT_STATE_OPENING);
}

void EndSlotOpening(StreamSlot& s) {
  uint32_t state = s.nClaimState.load();
  if (Phase(state) == SLOT_STATE_OPENING) s.nClaimState.compare_exchange_strong(state, WithPhase(state, SLOT_STATE_WAITING));
}

bool TryStartSlotSender(StreamSlot& s) {
  uint32_t state = s.nClaimState.load();
  for (;;) {
    uint32_t phase = Phase(state);
    if (phase != SLOT_STATE_OPENING && phase != SLOT_STATE_WAITING) return false;
    if (s.nClaimState.compare_exchange_weak(state, WithPhase(state, SLOT_STATE_SENDING))) return true;
  }
}

void UndoSlotSender(StreamSlot& s) {
  s.bAbandoned.store(1);
  uint32_t state = s.nClaimState.load();
  if (Phase(state) == SLOT_STATE_SENDING) s.nClaimState.compare_exchange_strong(state, WithPhase(state, SLOT_STATE_WAITING));
  g_slotChanges.fetch_add(1);
  g_slotChanges.notify_all();
}

bool SlotJoinable(const StreamSlot& s) {
  return s.bInUse.load() && !s.bStop.load() && !s.bAbandoned.load() &&
         Phase(s.nClaimState.load()) != SLOT_STATE_RECLAIMED;
}

bool SlotReclaimDue(const StreamSlot& s, uint32_t seenState, uint32_t now) {
  if (Phase(seenState) != SLOT_STATE_WAITING) return false;
  if (s.bAbandoned.load()) return true;
  return static_cast<int32_t>(now - s.dwClaimed.load()) > SLOT_START_TIMEOUT_MS;
}

bool ReclaimSlot(StreamSlot& s, uint32_t seenState) {
  if (Phase(seenState) != SLOT_STATE_WAITING) return false;
  if (!s.nClaimState.compare_exchange_strong(seenState, WithPhase(seenState, SLOT_STATE_RECLAIMED))) return false;
  s.mediaSocket.Close();
  if (s.pSet) s.pSet->nSlotsInUse.fetch_sub(1);
  s.bInUse.store(0);
  return true;
}

void FinishSlot(StreamSlot& s) {
  s.mediaSocket.Close();
  if (s.pSet) s.pSet->nSlotsInUse.fetch_sub(1);
  s.bInUse.store(0);
  g_slotChanges.fetch_add(1);
  g_slotChanges.notify_all();
}

uint32_t SlotChangeCount() { return g_slotChanges.load(); }

void WaitForSlotChange(uint32_t seen) { g_slotChanges.wait(seen); }
