#pragma once
#include <cstdint>

// Blocks the calling thread for ms milliseconds.
void SleepMs(uint32_t ms);
