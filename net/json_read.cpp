#include "net/json_read.h"

#include <json/reader.h>

#include <cmath>
#include <cstring>
#include <exception>

bool JsonParse(const char* begin, const char* end, Json::Value& out, bool collectComments) {
  try {
    Json::Reader reader;
    return reader.parse(begin, end, out, collectComments);
  } catch (const std::exception&) {
    // The reader throws on nesting deeper than its stack limit; keep what it built.
    return false;
  }
}

const Json::Value& JsonMember(const Json::Value& v, const char* key) {
  static const Json::Value kNull;
  if (!v.isObject()) return kNull;
  const Json::Value* found = v.find(key, key + strlen(key));
  return found ? *found : kNull;
}

int32_t JsonInt(const Json::Value& v) {
  switch (v.type()) {
    case Json::intValue: return static_cast<int32_t>(static_cast<uint32_t>(v.asLargestInt()));
    case Json::uintValue: return static_cast<int32_t>(static_cast<uint32_t>(v.asLargestUInt()));
    case Json::booleanValue: return v.asBool() ? 1 : 0;
    case Json::realValue: {
      double d = v.asDouble();
      if (std::isnan(d)) return 0;
      if (d >= 2147483647.0) return INT32_MAX;
      if (d <= -2147483648.0) return INT32_MIN;
      return static_cast<int32_t>(d);
    }
    default: return 0;
  }
}

bool JsonString(const Json::Value& v, std::string* out) {
  if (!v.isString()) return false;
  const char* b = nullptr;
  const char* e = nullptr;
  if (!v.getString(&b, &e)) return false;
  out->assign(b, e);
  return true;
}

std::string JsonText(const Json::Value& v) {
  std::string s;
  JsonString(v, &s);
  return s;
}

bool JsonIsString(const Json::Value& v, const char* text) {
  if (!v.isString()) return false;
  const char* b = nullptr;
  const char* e = nullptr;
  if (!v.getString(&b, &e)) return false;
  size_t n = strlen(text);
  return static_cast<size_t>(e - b) == n && memcmp(b, text, n) == 0;
}
