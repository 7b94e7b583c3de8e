#include "platform/sleep.h"

#include <chrono>
#include <thread>

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
