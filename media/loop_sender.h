#pragma once
#include <cstdint>

#include "net/share_table.h"

struct StreamSlot;
class CEventLoop;
class IMediaHost;

// A media stream's sender. It lives on the loop thread that serves its media
// connection (the device's signalling loop): its pauses and its pacing are
// timers of that loop, and a unit that has to wait for room waits for the
// connection's drained event instead of blocking. It never sleeps.
//
// Made by the server's CREATESTREAM answer on that loop; it ends itself when
// its stream ends: its timers cancelled, the media connection closed, then the
// slot freed (FinishSlot), the exit line written, and the sender deleted. From
// then on it touches neither the slot nor the device.
//
// Threads: the media connection's loop thread only (slot.pSender, Wake and
// OnDrained included).
class CLoopSender {
 public:
  virtual ~CLoopSender();
  CLoopSender(const CLoopSender&) = delete;
  CLoopSender& operator=(const CLoopSender&) = delete;

  // Starts the sender of the slot's kind on the calling loop thread. False
  // when none could be made (no share loop to live on, unknown kind).
  static bool Start(StreamSlot& slot);

  // The stream was told to stop or its connection closed: the next step runs
  // now rather than after the pause or the wait for room it is in.
  void Wake();
  // The connection's output buffer has been written out.
  void OnDrained();

 protected:
  CLoopSender(StreamSlot& slot, const char* szExitLine);

  // The first step, right after the start.
  virtual void Begin() = 0;
  // Every later step: after a pause, after a wait for room, after a wake.
  virtual void Step() = 0;

  // The next Step runs after ms (0: on the loop's next pass).
  void StepAfter(uint32_t ms);

  enum class SendResult { SENT, FAILED, WAIT };
  // Sends one unit as a send with the media time-out: at once when nothing
  // waits in the connection's output buffer; otherwise WAIT, and Step runs
  // again once the buffer is written out, or after the time-out, when this
  // call then gives FAILED ("CMySocket - select timeout, send data failed.").
  SendResult SendTimed(const uint8_t* head, int32_t headLen, const uint8_t* body, int32_t bodyLen);

  // The stream ends: the slot is freed, the exit line written (unless
  // bExitLine is false) and the sender deleted. Return at once after it.
  void End(bool bExitLine = true);

  StreamSlot& slot;
  IMediaHost& dev;

 private:
  void CancelTimers();
  void RoomTimedOut();

  CShareLoopHold hold;  // keeps the loop running while the sender lives
  CEventLoop* pLoop;
  const char* const szExitLine;
  uint64_t nStepTimer = 0;
  uint64_t nRoomTimer = 0;
  bool bWaitingRoom = false;
  bool bRoomTimedOut = false;
};

// Units a sender sends in one step before it lets the loop serve the others.
constexpr int32_t MEDIA_UNITS_PER_STEP = 64;
