// The compact JSON writer on whatever the reader builds from the input (also
// from a text that does not parse completely): its text holds no raw control
// character. When the input parsed, the text reads back completely into the
// same value (reals within their 16 written digits), and writing that value
// again gives the same text. (What the reader leaves of a text it refused can
// be refused again: a text nested past the reader's depth limit leaves a
// value just as deep.)
#include <cmath>
#include <cstdint>
#include <string>

#include "net/json_read.h"
#include "net/json_writer.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool SameReal(double a, double b) {
  if (a == b) return true;
  return std::fabs(a - b) <= 1e-15 * std::fmax(std::fabs(a), std::fabs(b));
}

// Structural equality; reals compare within the precision the writer keeps.
bool SameValue(const Json::Value& a, const Json::Value& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Json::realValue: return SameReal(a.asDouble(), b.asDouble());
    case Json::arrayValue:
      if (a.size() != b.size()) return false;
      for (Json::ArrayIndex i = 0; i < a.size(); ++i)
        if (!SameValue(a[i], b[i])) return false;
      return true;
    case Json::objectValue: {
      if (a.size() != b.size()) return false;
      for (auto it = a.begin(); it != a.end(); ++it) {
        const char* end = nullptr;
        const char* key = it.memberName(&end);
        const Json::Value* other = b.find(key, end);
        if (!other || !SameValue(*it, *other)) return false;
      }
      return true;
    }
    default: return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* input = reinterpret_cast<const char*>(data);
  Json::Value first;
  const bool bParsed = JsonParse(input, input + size, first);
  const std::string text = WriteCompactJson(first);
  FUZZ_CHECK(!text.empty());
  for (unsigned char c : text) FUZZ_CHECK(c >= 0x20);
  if (!bParsed) return 0;

  Json::Value again;
  FUZZ_CHECK(JsonParse(text.data(), text.data() + text.size(), again));
  FUZZ_CHECK(SameValue(first, again));
  FUZZ_CHECK(WriteCompactJson(again) == text);
  return 0;
}
