#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// Waits for many closes made with CMySocket::Close(done) at once: each close
// gets Completion() as its done, and Wait returns once every one of them has
// run. A wait longer than the close report time writes "CMySocket - wait
// thread exit failed!" once and goes on, as a single Close does. The state is
// shared with the completions, which may still be returning when Wait does.
class CCloseCountdown {
 public:
  CCloseCountdown();
  // One more close to wait for: pass the result as its done.
  std::function<void()> Completion();
  // Any thread but a share thread (a share thread's own releases could be
  // among those waited for).
  void Wait();

 private:
  struct State {
    std::mutex lock;
    std::condition_variable cv;
    int32_t nLeft = 0;
  };
  std::shared_ptr<State> state;
};
