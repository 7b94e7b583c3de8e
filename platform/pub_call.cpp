#include "platform/pub_call.h"

#include <ctime>

#include "platform/debug_log.h"

namespace {
struct StartArgs {
  ThreadRoutine routine;
  void* param;
};

void* Trampoline(void* p) {
  StartArgs args = *static_cast<StartArgs*>(p);
  delete static_cast<StartArgs*>(p);
  args.routine(args.param);
  return nullptr;
}
}  // namespace

int CPubCall::StartThread(ThreadRoutine routine, void* param, ThreadHandle* handle) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, THREAD_STACK_SIZE);
  if (!handle) pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  auto* args = new StartArgs{routine, param};
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, Trampoline, args);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete args;
    OutputDebugLine("CPubCall - CreateThread failed.");
    return 1;
  }
  if (handle) {
    handle->hThread = tid;
    handle->bHasThread = true;
    handle->bActive.store(1, std::memory_order_relaxed);
  }
  return 0;
}

bool CPubCall::StopThread(ThreadHandle* handle, uint32_t waitMs) {
  handle->bActive.store(0, std::memory_order_relaxed);
  if (!handle->bHasThread) return true;
  bool ok = true;
  if (waitMs == 0) {
    pthread_detach(handle->hThread);
  } else {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += waitMs / 1000;
    deadline.tv_nsec += static_cast<long>(waitMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(handle->hThread, nullptr, &deadline) != 0) {
      pthread_detach(handle->hThread);
      ok = false;
    }
  }
  handle->bHasThread = false;
  return ok;
}
