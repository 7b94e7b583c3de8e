#pragma once
#include "app/fleet_listener.h"

class CzelView;

// Carries what the fleet reports to the window. Row images come from the
// driver thread and only mark the view model's rows (never a widget); the
// title and the status texts reach the view's signals on the GUI thread,
// directly when reported there, queued otherwise.
class CViewListener : public IFleetListener {
 public:
  explicit CViewListener(CzelView& owner) : view(owner) {}

  void OnRowImage(int32_t row, int32_t image) override;
  void OnTitle(const std::string& text) override;
  void OnStatusText(int32_t pane, const std::string& text) override;

 private:
  CzelView& view;
};
