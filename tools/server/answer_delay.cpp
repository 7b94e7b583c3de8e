#include "tools/server/answer_delay.h"

#include <cerrno>
#include <cstdlib>

namespace {
bool ParseMs(const std::string& text, uint32_t* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long v = strtoul(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v > ANSWER_DELAY_MAX_MS) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}
}  // namespace

bool ParseAnswerDelay(const std::string& text, AnswerDelay* out, std::string* why) {
  size_t colon = text.find(':');
  AnswerDelay d;
  bool bOk = ParseMs(text.substr(0, colon), &d.nMs) &&
             (colon == std::string::npos || ParseMs(text.substr(colon + 1), &d.nJitterMs));
  if (!bOk) {
    *why = "not MS or MS:JITTER in whole milliseconds from 0 to " + std::to_string(ANSWER_DELAY_MAX_MS) + ": " + text;
    return false;
  }
  if (d.nJitterMs > d.nMs) {
    *why = "the jitter may not exceed the delay (a hold is never negative): " + text;
    return false;
  }
  *out = d;
  return true;
}

uint32_t DrawHold(const AnswerDelay& delay, std::mt19937& rng) {
  if (delay.nJitterMs == 0) return delay.nMs;
  std::uniform_int_distribution<uint32_t> spread(delay.nMs - delay.nJitterMs, delay.nMs + delay.nJitterMs);
  return spread(rng);
}

std::string HeldNote(int64_t heldMs) {
  if (heldMs == ANSWER_NOT_HELD) return "";
  return " (answer held " + std::to_string(heldMs) + " ms)";
}
