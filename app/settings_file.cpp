#include "app/settings_file.h"

#include "app/file_paths.h"
#include "app/json_file.h"
#include "net/json_read.h"

namespace {

void DefaultString(Json::Value& settings, const char* key, const char* text) {
  if (!JsonMember(settings, key).isString()) settings[key] = text;
}

std::string TextOr(const Json::Value& settings, const char* key, const char* fallback) {
  std::string text;
  if (!JsonString(JsonMember(settings, key), &text)) text = fallback;
  return text;
}

}  // namespace

int LoadSettings(const std::string& dir, Json::Value& settings, std::string* pWhy,
                 std::vector<std::string>* pDefaulted) {
  settings = Json::Value();
  int read = ReadJsonFile(DevsetPath(dir), JSON_FILE_LIMIT_DEVSET, settings, pWhy);
  // A document of another shape would be replaced by the defaults on the next
  // store: it counts as one that did not parse.
  if (read == JSON_FILE_READ_OK && !settings.isObject()) {
    read = JSON_FILE_READ_FAILED;
    if (pWhy) *pWhy = "is not a JSON object";
  }
  for (const char* key : {SETTINGS_KEY_REG, SETTINGS_KEY_VF}) {
    if (pDefaulted && !JsonMember(settings, key).isString()) pDefaulted->push_back(key);
  }
  ApplySettingsDefaults(settings);
  return read;
}

void ApplySettingsDefaults(Json::Value& settings) {
  if (!settings.isObject()) settings = Json::Value(Json::objectValue);
  DefaultString(settings, SETTINGS_KEY_REG, SETTINGS_DEFAULT_REG);
  DefaultString(settings, SETTINGS_KEY_VF, SETTINGS_DEFAULT_VF);
}

std::string SettingsReg(const Json::Value& settings) {
  return TextOr(settings, SETTINGS_KEY_REG, SETTINGS_DEFAULT_REG);
}

std::string SettingsVf(const Json::Value& settings) {
  return TextOr(settings, SETTINGS_KEY_VF, SETTINGS_DEFAULT_VF);
}

bool StoreSettings(const std::string& dir, Json::Value& settings, const std::string& reg,
                   const std::string& vf) {
  if (!settings.isObject()) settings = Json::Value(Json::objectValue);
  settings[SETTINGS_KEY_REG] = reg;
  settings[SETTINGS_KEY_VF] = vf;
  return WriteSettings(dir, settings);
}

bool WriteSettings(const std::string& dir, const Json::Value& settings) {
  return WriteJsonFile(DevsetPath(dir), settings);
}

bool SplitRegAddress(const std::string& reg, std::string& address, int32_t& port) {
  size_t colon = reg.find(':');
  if (colon == std::string::npos) return false;
  int64_t value = 0;
  for (size_t i = colon + 1; i < reg.size() && reg[i] >= '0' && reg[i] <= '9'; ++i) {
    value = value * 10 + (reg[i] - '0');
    if (value > INT32_MAX) value = INT32_MAX;
  }
  address = reg.substr(0, colon);
  port = static_cast<int32_t>(value);
  return true;
}
