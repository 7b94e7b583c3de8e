#include "tools/server/server_output.h"

#include <cstdio>

void COutput::Line(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock);
  if (bStdout) {
    fwrite(text.data(), 1, text.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
  } else {
    lines.push_back(text);
  }
}

void COutput::Event(const std::string& text) {
  if (!bQuietMode) Line(text);
}

std::vector<std::string> COutput::Lines() const {
  std::lock_guard<std::mutex> guard(lock);
  return lines;
}
