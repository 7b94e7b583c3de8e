#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/cli/cli_core.h"

bool ParseInt32(const std::string& text, int32_t& value) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size() || text.size() - i > 11) return false;
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') return false;
  long long v = strtoll(text.c_str(), nullptr, 10);
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

std::vector<CliWord> SplitWords(const std::string& line) {
  std::vector<CliWord> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    words.push_back({line.substr(start, i - start), start});
  }
  return words;
}

