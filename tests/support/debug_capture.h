#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_log.h"

// Captures every debug line while it lives (one capture at a time).
class DebugCapture : public IDebugSink {
 public:
  DebugCapture() { SetDebugSink(this); }
  ~DebugCapture() { SetDebugSink(nullptr); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  void OnDebugLine(std::string_view line) override {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.emplace_back(line);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }
  // Number of lines equal to text.
  int Count(const std::string& text) const;
  // Number of lines that contain text.
  int CountContaining(const std::string& text) const;
  bool Has(const std::string& text) const { return Count(text) > 0; }
  // Waits until a line equal to text has been written; false after timeoutMs.
  bool WaitFor(const std::string& text, int timeoutMs) const;
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.clear();
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};
