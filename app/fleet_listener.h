#pragma once
#include <cstdint>
#include <string>

// How a user interface learns what the fleet changed. The fleet holds a plain
// pointer to it; the listener must outlive the fleet's driver thread (that is,
// until SaveAndRelease returned or the fleet was destroyed).
class IFleetListener {
 public:
  // A row's image index changed (0 offline, 1 online). Runs on the driver
  // thread, outside the fleet's locks. The row may have been deleted or moved
  // by the time the user interface handles it: treat it as a hint and read the
  // row again (CFleet::RowImage) on the interface's own thread. May call the
  // fleet's read operations, never its commands.
  virtual void OnRowImage(int32_t row, int32_t image) = 0;

  // The window title changed ("ZEL - <REG>"). Runs on the thread of the
  // command that changed it (LoadAll, ApplySettings).
  virtual void OnTitle(const std::string& text) = 0;

  // Status pane 0, 1 or 2 got a new text. Runs on the thread of LoadAll.
  virtual void OnStatusText(int32_t pane, const std::string& text) = 0;

 protected:
  ~IFleetListener() = default;
};
