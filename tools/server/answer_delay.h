#pragma once
#include <cstdint>
#include <random>
#include <string>

// How long the server holds an answer before sending it: nMs, spread
// uniformly over [nMs - nJitterMs, nMs + nJitterMs]. nJitterMs never exceeds
// nMs, so a hold is never negative. The default holds nothing.
struct AnswerDelay {
  uint32_t nMs = 0;
  uint32_t nJitterMs = 0;
  bool Holds() const { return nMs != 0; }
};

// The longest hold an option may ask for (ten minutes).
constexpr uint32_t ANSWER_DELAY_MAX_MS = 600000;

// Reads "MS" or "MS:JITTER" (whole milliseconds up to ANSWER_DELAY_MAX_MS,
// JITTER at most MS). False with the reason in why.
bool ParseAnswerDelay(const std::string& text, AnswerDelay* out, std::string* why);

// One hold in milliseconds, drawn with rng. Loop thread (rng is the server's).
uint32_t DrawHold(const AnswerDelay& delay, std::mt19937& rng);

// heldMs of an answer sent at once: it was not held.
constexpr int64_t ANSWER_NOT_HELD = -1;

// The part of an event line that says how long its answer was held:
// " (answer held 123 ms)", or nothing for an answer sent at once.
std::string HeldNote(int64_t heldMs);
