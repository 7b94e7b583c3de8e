#include "tools/server/printable.h"

#include <algorithm>
#include <cstdio>

std::string PrintableSample(const uint8_t* p, size_t len, size_t maxBytes) {
  std::string out;
  size_t n = std::min(len, maxBytes);
  for (size_t i = 0; i < n; i++) {
    uint8_t c = p[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (len > n) out += "...";
  return out;
}

std::string Printable(const std::string& text, size_t maxBytes) {
  return PrintableSample(reinterpret_cast<const uint8_t*>(text.data()), text.size(), maxBytes);
}
