// devset.txt as the start-up reads it: the input parsed as JSON (whatever the
// reader built), the defaults applied and the accessors read. The result is
// always an object with string "REG" and "VF" (a string kept, anything else
// replaced by its default), other members of an object are kept, the
// accessors agree with the members, the address split holds, and settings
// from a text that parsed read back the same once written.
#include <cstdint>
#include <string>

#include "app/settings_file.h"
#include "net/json_read.h"
#include "net/json_writer.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// What a member turns into: its text when it is a string, else the default.
std::string Expected(const Json::Value& orig, const char* key, const char* fallback) {
  std::string text;
  return JsonString(JsonMember(orig, key), &text) ? text : std::string(fallback);
}

void CheckMembers(const Json::Value& orig, const Json::Value& s) {
  FUZZ_CHECK(s.isObject());
  FUZZ_CHECK(JsonMember(s, SETTINGS_KEY_REG).isString() && JsonMember(s, SETTINGS_KEY_VF).isString());
  FUZZ_CHECK(SettingsReg(s) == Expected(orig, SETTINGS_KEY_REG, SETTINGS_DEFAULT_REG));
  FUZZ_CHECK(SettingsVf(s) == Expected(orig, SETTINGS_KEY_VF, SETTINGS_DEFAULT_VF));
  FUZZ_CHECK(SettingsReg(orig) == SettingsReg(s) && SettingsVf(orig) == SettingsVf(s));
  if (!orig.isObject()) {
    FUZZ_CHECK(s.size() == 2);
    return;
  }
  Json::ArrayIndex added = 0;
  for (const char* key : {SETTINGS_KEY_REG, SETTINGS_KEY_VF})
    if (!orig.isMember(key)) ++added;
  FUZZ_CHECK(s.size() == orig.size() + added);
  for (const std::string& key : orig.getMemberNames()) {
    if (key == SETTINGS_KEY_REG || key == SETTINGS_KEY_VF) continue;
    const Json::Value* kept = s.find(key.data(), key.data() + key.size());
    FUZZ_CHECK(kept && *kept == *orig.find(key.data(), key.data() + key.size()));
  }
}

void CheckSplit(const std::string& reg) {
  std::string address = "untouched";
  int32_t port = -7;
  const bool bSplit = SplitRegAddress(reg, address, port);
  const size_t colon = reg.find(':');
  FUZZ_CHECK(bSplit == (colon != std::string::npos));
  if (!bSplit) {
    FUZZ_CHECK(address == "untouched" && port == -7);
    return;
  }
  FUZZ_CHECK(address == reg.substr(0, colon));
  FUZZ_CHECK(port >= 0);
  if (colon + 1 >= reg.size() || reg[colon + 1] < '0' || reg[colon + 1] > '9') FUZZ_CHECK(port == 0);
}

void CheckWrittenBack(const Json::Value& s) {
  const std::string text = WriteCompactJson(s);
  Json::Value again;
  FUZZ_CHECK(JsonParse(text.data(), text.data() + text.size(), again));
  FUZZ_CHECK(SettingsReg(again) == SettingsReg(s) && SettingsVf(again) == SettingsVf(s));
  FUZZ_CHECK(again.size() == s.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  Json::Value orig;
  const bool bParsed = JsonParse(text, text + size, orig);
  Json::Value s = orig;
  ApplySettingsDefaults(s);
  CheckMembers(orig, s);
  Json::Value twice = s;
  ApplySettingsDefaults(twice);
  FUZZ_CHECK(twice == s);
  CheckSplit(SettingsReg(s));
  if (bParsed) CheckWrittenBack(s);
  return 0;
}
