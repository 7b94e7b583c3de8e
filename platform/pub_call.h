#pragma once
#include <pthread.h>

#include <atomic>
#include <cstdint>

// A thread that its starter may wait for. bActive is set while a started
// thread's handle is held.
struct ThreadHandle {
  std::atomic<int32_t> bActive{0};
  pthread_t hThread{};
  bool bHasThread = false;
};

using ThreadRoutine = int (*)(void* param);

// Thread creation for the whole system: every thread gets a 512000-byte stack.
class CPubCall {
 public:
  static constexpr size_t THREAD_STACK_SIZE = 512000;

  // Starts routine(param). With a handle the thread stays joinable and its
  // handle is stored there; without one it is detached at once. Returns 0, or
  // 1 after writing "CPubCall - CreateThread failed.". Safe from any thread.
  static int StartThread(ThreadRoutine routine, void* param, ThreadHandle* handle = nullptr);

  // Clears bActive; when a thread is held, waits up to waitMs for it to end
  // (no wait when waitMs is 0), then releases the handle. Returns false only
  // when the wait ran out (the handle is then released all the same).
  static bool StopThread(ThreadHandle* handle, uint32_t waitMs);
};
