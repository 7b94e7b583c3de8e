#pragma once
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/fleet_listener.h"

// Records what a fleet tells its user interface.
class CRecordingListener : public IFleetListener {
 public:
  void OnRowImage(int32_t row, int32_t image) override {
    std::lock_guard<std::mutex> lock(mu_);
    images_.emplace_back(row, image);
  }
  void OnTitle(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mu_);
    titles_.push_back(text);
  }
  void OnStatusText(int32_t pane, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mu_);
    panes_.emplace_back(pane, text);
  }
  bool SawImage(int32_t row, int32_t image) const {
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& e : images_)
      if (e.first == row && e.second == image) return true;
    return false;
  }
  std::vector<std::pair<int32_t, int32_t>> Images() const {
    std::lock_guard<std::mutex> lock(mu_);
    return images_;
  }
  std::vector<std::string> Titles() const {
    std::lock_guard<std::mutex> lock(mu_);
    return titles_;
  }
  std::vector<std::pair<int32_t, std::string>> Panes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return panes_;
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::pair<int32_t, int32_t>> images_;
  std::vector<std::string> titles_;
  std::vector<std::pair<int32_t, std::string>> panes_;
};
