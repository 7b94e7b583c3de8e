#include "net/close_countdown.h"

#include <chrono>

#include "net/sock_conn.h"
#include "platform/debug_log.h"

CCloseCountdown::CCloseCountdown() : state(std::make_shared<State>()) {}

std::function<void()> CCloseCountdown::Completion() {
  {
    std::lock_guard<std::mutex> lock(state->lock);
    ++state->nLeft;
  }
  return [s = state] {
    std::lock_guard<std::mutex> lock(s->lock);
    if (--s->nLeft == 0) s->cv.notify_all();
  };
}

void CCloseCountdown::Wait() {
  std::unique_lock<std::mutex> lock(state->lock);
  auto done = [this] { return state->nLeft == 0; };
  if (state->cv.wait_for(lock, std::chrono::milliseconds(CloseReportMs()), done)) return;
  OutputDebugLine("CMySocket - wait thread exit failed!");
  state->cv.wait(lock, done);
}
