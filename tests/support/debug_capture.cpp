#include "tests/support/debug_capture.h"

#include "tests/support/wait.h"

int DebugCapture::Count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& l : lines_) n += (l == text);
  return n;
}

int DebugCapture::CountContaining(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& l : lines_) n += (l.find(text) != std::string::npos);
  return n;
}

bool DebugCapture::WaitFor(const std::string& text, int timeoutMs) const {
  return WaitUntil([&] { return Count(text) > 0; }, timeoutMs);
}
