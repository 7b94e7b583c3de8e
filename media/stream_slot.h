#pragma once
#include <atomic>
#include <cstdint>

#include "device/stream_set.h"
#include "net/my_socket.h"

class IMediaHost;
class CStreamSet;
class CLoopSender;

constexpr int32_t MAX_STREAMS = 50;

constexpr int32_t STREAM_NAME_SIZE = 40;  // at most 39 characters

// Start states of StreamSlot::nClaimState (its low two bits).
constexpr uint32_t SLOT_STATE_WAITING = 0;    // set up; waiting for the server's CREATESTREAM answer
constexpr uint32_t SLOT_STATE_SENDING = 1;    // a sender owns the slot until it frees it
constexpr uint32_t SLOT_STATE_RECLAIMED = 2;  // the device is taking back a slot that never started
constexpr uint32_t SLOT_STATE_OPENING = 3;    // the request handler is still opening the connection
constexpr uint32_t SLOT_STATE_MASK = 3;
constexpr uint32_t SLOT_CLAIM_STEP = 4;       // one claim in the serial above the state bits

// One media stream of a device. The flags are shared between the signalling
// loop (request and control handlers, and the media connection's callbacks
// and the sender, which live on the same loop unless the signalling
// connection had gone when the media connection opened), the driver (reaping)
// and the operator's thread (the stop at the device's end); each is one 32-bit
// atomic word.
struct StreamSlot {
  std::atomic<int32_t> bPlaying{0};       // playback runs (1) or is paused (0)
  std::atomic<int32_t> bStop{0};          // stop request
  std::atomic<uint32_t> nChannelMask{0};  // bit i: channel i served (live)
  std::atomic<int32_t> bInUse{0};         // claimed; cleared by the sender after closing
  std::atomic<int32_t> nKind{STREAM_LIVE};
  char szStreamName[STREAM_NAME_SIZE] = {};
  IMediaHost* pDevice = nullptr;
  CStreamSet* pSet = nullptr;  // the device's stream set, which counts the claimed slots
  CMySocket mediaSocket;
  // Claim serial and start state in one word, so that the sender start (media
  // share thread) and the device taking back a slot whose stream never started
  // (driver or operator thread) decide by one compare-and-swap, and a decision
  // about an earlier claim can never hit a newer one. Low two bits:
  // SLOT_STATE_*; the upper 30 bits count the claims.
  std::atomic<uint32_t> nClaimState{0};
  // Set when the media connection was lost or could not be set up before a
  // sender started: the device may take the slot back at once.
  std::atomic<int32_t> bAbandoned{0};
  // Tick count at which the slot was claimed.
  std::atomic<uint32_t> dwClaimed{0};
  // The stream time: when CREATESTREAM left on the media connection
  // (GetMicroTicks), and whether its answer is still awaited.
  std::atomic<uint32_t> dwCreateSentUs{0};
  std::atomic<int32_t> bCreatePending{0};
  // The running sender; touched only on the media connection's loop thread.
  CLoopSender* pSender = nullptr;
};
