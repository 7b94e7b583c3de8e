#include "media/loop_sender.h"

#include "media/media_senders.h"
#include "media/slot_state.h"
#include "net/event_loop.h"
#include "platform/debug_log.h"

CLoopSender::CLoopSender(StreamSlot& s, const char* exitLine)
    : slot(s), dev(*s.pDevice), pLoop(hold.Loop()), szExitLine(exitLine) {}

CLoopSender::~CLoopSender() { CancelTimers(); }

void CLoopSender::CancelTimers() {
  if (!pLoop) return;
  if (nStepTimer != 0) pLoop->CancelTimer(nStepTimer);
  if (nRoomTimer != 0) pLoop->CancelTimer(nRoomTimer);
  nStepTimer = nRoomTimer = 0;
}

void CLoopSender::StepAfter(uint32_t ms) {
  if (nStepTimer != 0) pLoop->CancelTimer(nStepTimer);
  nStepTimer = pLoop->AddTimer(ms, 0, [this] {
    nStepTimer = 0;
    Step();
  });
}

void CLoopSender::Wake() {
  CancelTimers();
  bWaitingRoom = false;
  StepAfter(0);
}

void CLoopSender::OnDrained() {
  if (!bWaitingRoom) return;
  bWaitingRoom = false;
  if (nRoomTimer != 0) pLoop->CancelTimer(nRoomTimer);
  nRoomTimer = 0;
  Step();
}

void CLoopSender::RoomTimedOut() {
  nRoomTimer = 0;
  if (!bWaitingRoom) return;
  bWaitingRoom = false;
  bRoomTimedOut = true;
  Step();
}

CLoopSender::SendResult CLoopSender::SendTimed(const uint8_t* head, int32_t headLen, const uint8_t* body,
                                               int32_t bodyLen) {
  if (bRoomTimedOut) {
    bRoomTimedOut = false;
    OutputDebugLine("CMySocket - select timeout, send data failed.");
    return SendResult::FAILED;
  }
  if (slot.mediaSocket.IsOpen() && slot.mediaSocket.Unsent() > 0) {
    bWaitingRoom = true;
    if (nRoomTimer == 0) nRoomTimer = pLoop->AddTimer(MEDIA_SEND_TIMEOUT_MS, 0, [this] { RoomTimedOut(); });
    return SendResult::WAIT;
  }
  return slot.mediaSocket.SendParts(head, headLen, body, bodyLen, 0) > 0 ? SendResult::SENT : SendResult::FAILED;
}

void CLoopSender::End(bool bExitLine) {
  CancelTimers();
  slot.pSender = nullptr;
  const char* line = bExitLine ? szExitLine : nullptr;
  FinishSlot(slot);  // the slot and the device may be gone from here on
  if (line) OutputDebugLine(line);
  delete this;
}

bool CLoopSender::Start(StreamSlot& s) {
  CLoopSender* sender = nullptr;
  switch (s.nKind.load()) {
    case STREAM_LIVE: sender = MakeLiveSender(s); break;
    case STREAM_TALK: sender = MakeTalkSender(s); break;
    case STREAM_DOWNLOAD: sender = MakeDownloadSender(s); break;
    case STREAM_PLAYBACK: sender = MakePlaybackSender(s); break;
    default: return false;
  }
  if (!sender) return false;
  if (!sender->pLoop) {
    delete sender;
    return false;
  }
  s.pSender = sender;
  sender->Begin();
  return true;
}
