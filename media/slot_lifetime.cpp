#include <string>

#include "device/media_host.h"
#include "media/stream_set.h"
#include "media/slot_state.h"
#include "net/load_counters.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

// Driver thread. A slot whose stream never started is given back once it is
// abandoned (connection lost or not opened) or has waited too long (a failed
// connection attempt raises no event at all). Closing its socket here, off
// every share thread, never waits for the thread that runs the close.
void CStreamSet::Reap() {
  if (nSlotsInUse.load(std::memory_order_relaxed) == 0) return;
  for (StreamSlot& s : slots) {
    if (!s.bInUse.load()) continue;
    uint32_t state = s.nClaimState.load();
    if (!SlotReclaimDue(s, state, GetTickCount())) continue;
    std::string name = s.szStreamName;  // the slot is free once reclaimed
    if (!ReclaimSlot(s, state)) continue;
    DebugPrintf("dev - stream %s never started, slot reset.", name.c_str());
    CountFailure(FAIL_MEDIA_SETUP);
  }
}

// Operator's thread, after the signalling socket is closed (so no request
// handler runs any more). Every stream is told to stop, slots that never
// started are taken back at once, and the connections of running senders are
// shut down, which wakes each sender on its loop: it ends at once. Then it
// sleeps until a sender frees a slot, and looks again until every slot is
// free. The wait has no deadline on purpose: returning while a sender still
// runs would let the device be destroyed under it, and a late return is the
// lesser harm.
void CStreamSet::StopAll() {
  for (;;) {
    uint32_t seen = SlotChangeCount();
    bool bBusy = false;
    for (StreamSlot& s : slots) {
      if (!s.bInUse.load()) continue;
      s.bStop.store(1);
      uint32_t state = s.nClaimState.load();
      if (ReclaimSlot(s, state)) continue;
      if ((state & SLOT_STATE_MASK) == SLOT_STATE_SENDING) s.mediaSocket.Abort();
      bBusy = true;
    }
    if (!bBusy) return;
    WaitForSlotChange(seen);
  }
}
