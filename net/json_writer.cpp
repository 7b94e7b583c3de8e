#include "net/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// True for the bytes that go out as they are (everything but the quote, the
// backslash and the control characters).
inline bool PlainByte(unsigned char c) { return c >= 0x20 && c != '"' && c != '\\'; }

void AppendEscaped(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\b': out += "\\b"; break;
    case '\f': out += "\\f"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      out += "\\u00";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
  }
}

// Runs of plain bytes are appended whole: every message of a fleet passes
// through here, thousands a second.
void AppendQuoted(std::string& out, const char* s, const char* end) {
  out.push_back('"');
  while (s < end) {
    const char* run = s;
    while (s < end && PlainByte(static_cast<unsigned char>(*s))) ++s;
    out.append(run, static_cast<size_t>(s - run));
    if (s < end) AppendEscaped(out, static_cast<unsigned char>(*s++));
  }
  out.push_back('"');
}

template <typename T>
void AppendInteger(std::string& out, T value) {
  char num[24];
  auto res = std::to_chars(num, num + sizeof num, value);
  out.append(num, static_cast<size_t>(res.ptr - num));
}

void AppendValue(std::string& out, const Json::Value& v) {
  switch (v.type()) {
    case Json::nullValue: out += "null"; break;
    case Json::intValue: AppendInteger(out, static_cast<long long>(v.asLargestInt())); break;
    case Json::uintValue: AppendInteger(out, static_cast<unsigned long long>(v.asLargestUInt())); break;
    case Json::realValue: out += FormatJsonReal(v.asDouble()); break;
    case Json::stringValue: {
      const char* b = nullptr;
      const char* e = nullptr;
      if (v.getString(&b, &e)) AppendQuoted(out, b, e);
      else out += "\"\"";
      break;
    }
    case Json::booleanValue: out += v.asBool() ? "true" : "false"; break;
    case Json::arrayValue: {
      out.push_back('[');
      Json::ArrayIndex n = v.size();
      for (Json::ArrayIndex i = 0; i < n; ++i) {
        if (i) out.push_back(',');
        AppendValue(out, v[i]);
      }
      out.push_back(']');
      break;
    }
    case Json::objectValue: {
      // The library keeps members in ascending byte order of their keys.
      out.push_back('{');
      bool first = true;
      const auto stop = v.end();
      for (auto it = v.begin(); it != stop; ++it) {
        if (!first) out.push_back(',');
        first = false;
        const char* kend = nullptr;
        const char* k = it.memberName(&kend);
        AppendQuoted(out, k, kend);
        out.push_back(':');
        AppendValue(out, *it);
      }
      out.push_back('}');
      break;
    }
  }
}

}  // namespace

std::string FormatJsonReal(double value) {
  char buf[64];
  snprintf(buf, sizeof buf, "%#.16g", value);
  // Sixteen digits round the largest reals (within 2e292 of the largest
  // double) up past it, to a number no reader takes back; seventeen digits
  // read back exactly.
  if (std::isfinite(value) && std::fabs(value) > 1e308 && std::isinf(strtod(buf, nullptr)))
    snprintf(buf, sizeof buf, "%#.17g", value);
  size_t len = strlen(buf);
  if (len == 0 || buf[len - 1] != '0') return buf;
  // Cut trailing zeros back so that one zero stays behind the last nonzero
  // digit or behind the decimal point; texts with an exponent stay whole.
  char* ch = buf + len - 1;
  while (ch > buf && *ch == '0') --ch;
  char* lastNonZero = ch;
  while (ch >= buf) {
    if (*ch >= '0' && *ch <= '9') {
      --ch;
      continue;
    }
    if (*ch == '.') lastNonZero[2] = '\0';
    break;
  }
  return buf;
}

void AppendCompactJson(std::string& out, const Json::Value& value) { AppendValue(out, value); }

std::string WriteCompactJson(const Json::Value& value) {
  std::string out;
  out.reserve(256);
  AppendValue(out, value);
  return out;
}
