#pragma once
#include <cstdint>

// Talk audio flows both ways at one packet every 200 ms: a device's talk
// sender and the server's answering audio keep the same pace.
constexpr uint32_t TALK_PERIOD_MS = 200;
// Bytes of audio in one talk packet, after its head.
constexpr int32_t TALK_PAYLOAD = 80;
