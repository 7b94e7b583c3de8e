#pragma once
#include <atomic>
#include <cstdint>

#include "net/my_socket.h"

class CDevQ5;

constexpr int32_t MAX_STREAMS = 50;

// Stream kinds of StreamSlot::nKind.
constexpr int32_t STREAM_LIVE = 0;
constexpr int32_t STREAM_TALK = 1;
constexpr int32_t STREAM_DOWNLOAD = 2;
constexpr int32_t STREAM_PLAYBACK = 3;

constexpr int32_t STREAM_NAME_SIZE = 40;  // at most 39 characters

// One media stream of a device. The flags are shared between the signalling
// thread (request and control handlers), the media connection's share thread
// and the stream's sender thread; each is one 32-bit atomic word.
struct StreamSlot {
  std::atomic<int32_t> bPlaying{0};       // playback runs (1) or is paused (0)
  std::atomic<int32_t> bStop{0};          // stop request
  std::atomic<uint32_t> nChannelMask{0};  // bit i: channel i served (live)
  std::atomic<int32_t> bInUse{0};         // claimed; cleared by the sender after closing
  std::atomic<int32_t> nKind{STREAM_LIVE};
  char szStreamName[STREAM_NAME_SIZE] = {};
  CDevQ5* pDevice = nullptr;
  CMySocket mediaSocket;
  // Set when the server's CREATESTREAM answer started the sender; a slot whose
  // sender never started is given back by its device (see CDevQ5::ReapSlots).
  std::atomic<int32_t> bSenderStarted{0};
  // Set when the media connection was lost or could not be set up before a
  // sender started: the slot may be given back.
  std::atomic<int32_t> bAbandoned{0};
  // Tick count at which the slot was claimed.
  std::atomic<uint32_t> dwClaimed{0};
};
