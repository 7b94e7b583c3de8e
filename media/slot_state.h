#pragma once
#include <cstdint>

#include "media/stream_slot.h"

// How long a claimed slot may wait for its stream to start (connection up and
// the server's CREATESTREAM answer) before the device takes it back.
constexpr int32_t SLOT_START_TIMEOUT_MS = 20000;

// Start of a claim: a new claim serial in state OPENING, not abandoned, the
// claim tick. The handler then fills the slot and sets bInUse last.
// Signalling thread (the only thread that claims).
void BeginSlotClaim(StreamSlot& s);

// The handler has finished opening the media connection: OPENING becomes
// WAITING unless a sender started meanwhile. Signalling thread.
void EndSlotOpening(StreamSlot& s);

// The server's CREATESTREAM answer: true when this call moved the slot from
// OPENING or WAITING to SENDING, so that exactly one sender starts per claim
// and none after the device has begun taking the slot back. Media share thread.
bool TryStartSlotSender(StreamSlot& s);

// The sender could not be made: back to WAITING, abandoned, so the device
// takes the slot back. Media share thread.
void UndoSlotSender(StreamSlot& s);

// True when a claimed slot may be joined by a further live request: not
// stopping, not abandoned and not being taken back. Signalling thread.
bool SlotJoinable(const StreamSlot& s);

// True when the slot, seen in state seenState, never started and should be
// taken back: abandoned, or claimed more than SLOT_START_TIMEOUT_MS before now.
bool SlotReclaimDue(const StreamSlot& s, uint32_t seenState, uint32_t now);

// Takes back a claimed slot whose stream never started, provided its state is
// still seenState in phase WAITING: marks it RECLAIMED (a late CREATESTREAM
// answer then starts nothing), closes mediaSocket, then clears bInUse. True
// when it did. Any thread except the media connection's own share thread.
bool ReclaimSlot(StreamSlot& s, uint32_t seenState);

// End of a sender: closes mediaSocket, then clears bInUse, then wakes
// WaitForSlotChange. The sender touches neither the slot nor its device
// afterwards. The media connection's loop thread.
void FinishSlot(StreamSlot& s);

// Counts, in the whole process, the slots freed by senders and the senders
// that could not be made; WaitForSlotChange sleeps until the count moves past
// seen. A process-wide count, because a device may be destroyed as soon as
// its last slot is free, so a sender cannot tell anything of the device once
// it has freed its slot.
uint32_t SlotChangeCount();
void WaitForSlotChange(uint32_t seen);
